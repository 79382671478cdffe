#include "prefs/preference_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>
#include <QVariant>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace prefs {

std::optional<int> parseInteger16(const QString& text) {
    static const QRegularExpression integer(QStringLiteral(R"(^[ \t]*[+-]?[0-9]+[ \t]*$)"));
    if (!integer.match(text).hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const short value = text.trimmed().toShort(&ok, 10);
    if (!ok) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> parseBooleanText(const QString& text) {
    const QString word = text.trimmed();
    if (word.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (word.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    static const QRegularExpression number(
        QStringLiteral(R"(^[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?$)"));
    if (!number.match(word).hasMatch()) {
        return std::nullopt;
    }
    // Only zero is false; the digits alone tell, so no overflow can get in the way.
    for (const QChar c : word) {
        if (c == u'e' || c == u'E') {
            break;
        }
        if (c >= u'1' && c <= u'9') {
            return true;
        }
    }
    return false;
}

std::optional<PreferenceValue> parseValue(PrefKind kind, const QString& text) {
    switch (kind) {
    case PrefKind::CheckState: {
        const auto value = parseInteger16(text);
        if (value && *value >= 0 && *value <= 2) {
            return PreferenceValue{*value};
        }
        return std::nullopt;
    }
    case PrefKind::Delay: {
        const auto value = parseInteger16(text);
        if (value && *value >= kDelayMinimum && *value <= kDelayMaximum) {
            return PreferenceValue{*value};
        }
        return std::nullopt;
    }
    case PrefKind::FileTypeIndex: {
        const auto value = parseInteger16(text);
        if (value && *value >= -1 && *value <= 2) {
            return PreferenceValue{*value};
        }
        return std::nullopt;
    }
    case PrefKind::Option: {
        const auto value = parseBooleanText(text);
        if (value) {
            return PreferenceValue{*value};
        }
        return std::nullopt;
    }
    case PrefKind::Text:
        return PreferenceValue{text};
    }
    return std::nullopt;
}

PreferenceValue loadedValue(const PreferenceKey& key, const std::optional<QString>& storedText) {
    if (storedText) {
        if (auto value = parseValue(key.kind, *storedText)) {
            return *value;
        }
    }
    return *parseValue(key.kind, QString::fromLatin1(key.defaultText));
}

QString storedText(const PreferenceValue& value) {
    if (const int* number = std::get_if<int>(&value)) {
        return QString::number(*number);
    }
    if (const bool* flag = std::get_if<bool>(&value)) {
        return *flag ? QStringLiteral("True") : QStringLiteral("False");
    }
    return std::get<QString>(value);
}

QString iniValueText(const QString& value) {
    bool quote = false;
    QString escaped;
    escaped.reserve(value.size() + 2);
    // QSettings reads a text that begins with "@" as a typed value unless the "@" is doubled.
    if (value.startsWith(u'@')) {
        escaped.append(u'@');
    }
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'\\':
            escaped.append(QLatin1String("\\\\"));
            break;
        case u'"':
            escaped.append(QLatin1String("\\\""));
            quote = true;
            break;
        case u'\n':
            escaped.append(QLatin1String("\\n"));
            break;
        case u'\r':
            escaped.append(QLatin1String("\\r"));
            break;
        case u'\t':
            escaped.append(QLatin1String("\\t"));
            break;
        case u'\a':
            escaped.append(QLatin1String("\\a"));
            break;
        case u'\b':
            escaped.append(QLatin1String("\\b"));
            break;
        case u'\f':
            escaped.append(QLatin1String("\\f"));
            break;
        case u'\v':
            escaped.append(QLatin1String("\\v"));
            break;
        case u',':
        case u';':
        case u'=':
            escaped.append(c);
            quote = true;
            break;
        default:
            escaped.append(c);
            if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
                quote = true;
            }
            break;
        }
    }
    if (!value.isEmpty() && (value.front().isSpace() || value.back().isSpace())) {
        quote = true;
    }
    return quote ? u'"' + escaped + u'"' : escaped;
}

PreferenceStore::PreferenceStore(QString filePath) : filePath_(std::move(filePath)) {}

QString PreferenceStore::applicationName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QString PreferenceStore::defaultFilePath() {
    return filePathFor(applicationName());
}

QString PreferenceStore::filePathFor(const QString& name) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' + name +
           u'/' + name + QLatin1String(".ini");
}

QMap<QString, QString> PreferenceStore::readSection() const {
    QMap<QString, QString> section;
    if (!QFileInfo(filePath_).isFile()) {
        return section;
    }
    QSettings settings(filePath_, QSettings::IniFormat);
    // A damaged file still yields whatever keys could be read; the rest load their defaults.
    settings.beginGroup(QLatin1String(kSection));
    const QStringList keys = settings.childKeys();
    for (const QString& key : keys) {
        const QVariant value = settings.value(key);
        // An unquoted comma makes QSettings split a hand-edited text into a list.
        section.insert(key, value.typeId() == QMetaType::QStringList
                                ? value.toStringList().join(QLatin1String(", "))
                                : value.toString());
    }
    return section;
}

QString PreferenceStore::read(const QString& key, const QString& defaultText) const {
    return readSection().value(key, defaultText);
}

bool PreferenceStore::writeAll(const QList<std::pair<QString, QString>>& values, QString* error) {
    const auto fail = [error](const QString& cause) {
        if (error) {
            *error = cause;
        }
        return false;
    };
    const QFileInfo info(filePath_);
    if (!QDir().mkpath(info.absolutePath())) {
        return fail(QStringLiteral("Cannot create the folder %1")
                        .arg(QDir::toNativeSeparators(info.absolutePath())));
    }
    QString text = u'[' + QLatin1String(kSection) + QLatin1String("]\n");
    for (const auto& [key, value] : values) {
        text += key + u'=' + iniValueText(value) + u'\n';
    }
    const QByteArray bytes = text.toUtf8();
    // The new text goes to a temporary file beside the target and replaces the target only
    // once it has been read back whole from the disk: a full disk, a size limit or a removed
    // medium can make a write come up short without any error reported.
    QTemporaryFile temp(info.absolutePath() + QLatin1String("/.") + info.fileName() +
                        QLatin1String(".XXXXXX"));
    if (!temp.open()) {
        return fail(temp.errorString());
    }
    const bool written =
        temp.write(bytes) == bytes.size() && temp.flush() && ::fsync(temp.handle()) == 0;
    const QString writeError = temp.errorString();
    temp.close();
    if (!written) {
        return fail(writeError);
    }
    if (!temp.open() || temp.readAll() != bytes) {
        return fail(QStringLiteral("The file was not written completely"));
    }
    temp.close();
    if (::rename(QFile::encodeName(temp.fileName()).constData(),
                 QFile::encodeName(filePath_).constData()) != 0) {
        return fail(qt_error_string(errno));
    }
    temp.setAutoRemove(false);
    return true;
}

void PreferenceStore::removeAll() {
    QFile::remove(filePath_);
}

} // namespace prefs
