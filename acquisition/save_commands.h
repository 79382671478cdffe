#pragma once

#include <QString>

namespace acquisition {

// An IEEE 488.2 string: the text in double quotes, a double quote inside it doubled. Control
// characters (line feed, carriage return and the rest) are left out: a line feed would end the
// message in the middle, and what followed it would reach the instrument as a command of its
// own.
QString scpiString(const QString& text);

QString waveformSaveCommand(const QString& fileName); // "SAV:WAVE ALL, " + string
QString imageSaveCommand(const QString& fileName);    // "SAV:IMAG " + string

} // namespace acquisition
