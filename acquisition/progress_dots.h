#pragma once

#include <QString>

namespace acquisition {

// The status line after one more progress dot: the dot is appended, and a run of ten dots
// anywhere in the text drops the last nine characters, so a run counts 1..9 and starts over.
QString withProgressDot(const QString& statusText);

} // namespace acquisition
