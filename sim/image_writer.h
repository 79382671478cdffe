#pragma once

#include "sim/waveform_files.h"

#include <QImage>
#include <filesystem>

namespace sim {

struct ScreenOptions {
    bool inkSaver = false; // white background and dark graticule
    bool portrait = false; // the landscape picture turned to 480 x 640
};

inline constexpr int ScreenWidth = 640;
inline constexpr int ScreenHeight = 480;

// The screen: a 10 x 8 division graticule and the four traces. Draws no text, so it needs
// neither fonts nor a QGuiApplication.
QImage renderScreen(const WaveformSet& set, const ScreenOptions& options);

// `format` is a Qt image format name ("BMP", "PNG", "TIFF"). False when the file could not be
// written, in which case no file of that name appears.
bool saveScreenImage(const QImage& image, const std::filesystem::path& target, const char* format);

} // namespace sim
