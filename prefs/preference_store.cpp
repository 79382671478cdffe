#include "prefs/preference_store.h"

#include "platform/files/replace_file.h"
#include "prefs/input_rules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

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
        // Paths and prefixes travel to the instrument; a character that would arrive as
        // another one is dropped, as typing would have refused it.
        return PreferenceValue{withoutUnsendable(text)};
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

namespace {

QString sectionOf(const QString& line) {
    const QString trimmed = line.trimmed();
    if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
        return trimmed.mid(1, trimmed.size() - 2);
    }
    return {};
}

QString keyOf(const QString& line) {
    const qsizetype equals = line.indexOf(u'=');
    return equals < 0 ? QString() : line.left(equals).trimmed();
}

// The file's text as it stands, lines with their breaks; empty when there is none.
QStringList linesOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

QString joined(const QStringList& lines) {
    return lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n';
}

} // namespace

QString mergedIniText(const QString& existing, const QList<std::pair<QString, QString>>& values) {
    QStringList lines = existing.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    QSet<QString> keys;
    QStringList written{u'[' + QLatin1String(kSection) + u']'};
    for (const auto& [key, value] : values) {
        keys.insert(key);
        written << key + u'=' + iniValueText(value);
    }
    QStringList merged;
    bool inPrefs = false;
    bool placed = false;
    for (const QString& line : std::as_const(lines)) {
        const QString section = sectionOf(line);
        if (!section.isEmpty()) {
            inPrefs = section == QLatin1String(kSection);
            if (inPrefs && !placed) {
                merged << written;
                placed = true;
                continue;
            }
        } else if (inPrefs && keys.contains(keyOf(line))) {
            continue;
        }
        merged << line;
    }
    if (!placed) {
        if (!merged.isEmpty() && !merged.last().trimmed().isEmpty()) {
            merged << QString();
        }
        merged << written;
    }
    return joined(merged);
}

bool PreferenceStore::writeAll(const QList<std::pair<QString, QString>>& values, QString* error) {
    const QString text = mergedIniText(joined(linesOf(filePath_)), values);
    const std::string path = QFile::encodeName(filePath_).toStdString();
    std::string cause;
    if (files::replaceFile(path, text.toUtf8().toStdString(), cause)) {
        return true;
    }
    if (error) {
        // The message names the file already; a link's target is named here.
        if (cause.rfind(path + ": ", 0) == 0) {
            cause.erase(0, path.size() + 2);
        }
        *error = QString::fromLocal8Bit(cause.c_str());
        if (!error->isEmpty()) {
            (*error)[0] = error->at(0).toUpper();
        }
    }
    return false;
}

void PreferenceStore::removeAll() {
    // Only the program's own section goes; what else the user keeps in the file stays, and a
    // link stays a link.
    const QStringList lines = linesOf(filePath_);
    QStringList kept;
    bool inPrefs = false;
    for (const QString& line : lines) {
        const QString section = sectionOf(line);
        if (!section.isEmpty()) {
            inPrefs = section == QLatin1String(kSection);
        }
        if (!inPrefs) {
            kept << line;
        }
    }
    const QFileInfo info(filePath_);
    bool onlyBlank = true;
    for (const QString& line : std::as_const(kept)) {
        onlyBlank = onlyBlank && line.trimmed().isEmpty();
    }
    if (onlyBlank && !info.isSymLink()) {
        const auto writeBits = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
        if (info.isWritable() && (info.permissions() & writeBits)) {
            QFile::remove(filePath_); // a file the user made read-only stays
        }
        return;
    }
    std::string ignored;
    files::replaceFile(QFile::encodeName(filePath_).toStdString(),
                       joined(kept).toUtf8().toStdString(), ignored);
}

} // namespace prefs
