#include "acquisition/save_commands.h"

namespace acquisition {

QString scpiString(const QString& text) {
    QString quoted;
    quoted.reserve(text.size() + 2);
    quoted += QLatin1Char('"');
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            continue;
        }
        if (c == QLatin1Char('"')) {
            quoted += QLatin1Char('"');
        }
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

QString waveformSaveCommand(const QString& fileName) {
    return QStringLiteral("SAV:WAVE ALL, ") + scpiString(fileName);
}

QString imageSaveCommand(const QString& fileName) {
    return QStringLiteral("SAV:IMAG ") + scpiString(fileName);
}

} // namespace acquisition
