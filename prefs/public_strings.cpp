#include "prefs/public_strings.h"

namespace prefs {

QStringList imageFileTypes() {
    return {QStringLiteral("BMP"), QStringLiteral("PNG"), QStringLiteral("TIFF")};
}

QString imageFileTypeText(int index) {
    const QStringList types = imageFileTypes();
    return index >= 0 && index < types.size() ? types.at(index) : QString();
}

QString fileSpec(const QString& path, const QString& prefix) {
    return path + prefix;
}

QString fileTypeCommand(const QString& fileTypeText) {
    return QStringLiteral("SAV:IMAG:FILEF ") + fileTypeText;
}

QString layoutCommand(bool landscape) {
    return landscape ? QStringLiteral("SAV:IMAG:LAY LAN") : QStringLiteral("SAV:IMAG:LAY PORTR");
}

QString inkSaverCommand(bool inkSaverOn) {
    return inkSaverOn ? QStringLiteral("SAV:IMAG:INKS ON") : QStringLiteral("SAV:IMAG:INKS OFF");
}

} // namespace prefs
