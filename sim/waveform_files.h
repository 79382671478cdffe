#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

inline constexpr int ChannelCount = 4;

// One acquisition: every channel's samples as signed 16-bit codes; volts = code * yMult.
struct WaveformSet {
    long acquisition = 0;
    int points = 0;
    double xIncrement = 0.0;
    double xZero = 0.0; // time of the first sample; the trigger is at time 0
    double yMult = 0.0;
    std::array<std::vector<std::int16_t>, ChannelCount> samples;

    double time(int index) const { return xZero + xIncrement * index; }
    double volts(int channel, int index) const { return samples[channel][index] * yMult; }
};

// The same acquisition number always gives the same waveforms.
WaveformSet synthesizeWaveforms(long acquisition, int points);

struct WaveformSelection {
    std::vector<int> channels; // 0-based, in file order
    int first = 0;
    int count = 0;
};

std::string isfFileContents(const WaveformSet& set, const WaveformSelection& selection);
std::string csvFileContents(const WaveformSet& set, const WaveformSelection& selection);

// A number in NR3 form as the preamble writes it: "4.0E-6", "-2.0E-3", "0.0".
std::string nr3(double value);

} // namespace sim
