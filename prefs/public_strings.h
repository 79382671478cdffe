#pragma once

#include <QString>
#include <QStringList>

// The public strings that the two option windows derive from their controls and the save
// steps send as they stand. Plain functions of the preference values, so that a program
// without windows derives them the same way.
namespace prefs {

// The image file types of the screen-capture options window, by list index.
QStringList imageFileTypes();
// The text shown for a list index; empty for -1 (nothing selected) or any other index.
QString imageFileTypeText(int index);

// WFMfspec, ASCIIfspec, ScreenFspec: the instrument-side path followed directly by the prefix.
QString fileSpec(const QString& path, const QString& prefix);

// FileType, Layout, InkSaver: complete screen-image commands.
QString fileTypeCommand(const QString& fileTypeText);
QString layoutCommand(bool landscape);
QString inkSaverCommand(bool inkSaverOn);

} // namespace prefs
