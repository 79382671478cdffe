#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <optional>
#include <utility>
#include <variant>

// The preference set as the settings store sees it: twenty keys named after their controls,
// their defaults and text forms, and the per-user INI file that holds them.
namespace prefs {

enum class PrefKind {
    CheckState,    // check box: 0 unchecked, 1 checked, 2 greyed
    Delay,         // scroll-bar position, whole seconds 0..60
    Text,          // text field, any text
    FileTypeIndex, // drop-down list: -1 (nothing selected) .. 2
    Option,        // option button: True or False
};

struct PreferenceKey {
    const char* key;
    PrefKind kind;
    const char* defaultText;
};

inline constexpr char kSection[] = "Prefs";

// The twenty preferences in the order in which they are loaded and saved.
inline constexpr PreferenceKey kPreferenceKeys[] = {
    {"chkUseTimestamps", PrefKind::CheckState, "1"},
    {"hsDelay", PrefKind::Delay, "0"},
    {"chkAsk", PrefKind::CheckState, "0"},
    {"chkStopAfter", PrefKind::CheckState, "1"},
    {"txtAcqLimit", PrefKind::Text, "10"},
    {"chkWFM", PrefKind::CheckState, "1"},
    {"txtWFMpath", PrefKind::Text, "D:\\"},
    {"txtWFMprefix", PrefKind::Text, "my_ISFs_"},
    {"chkASCII", PrefKind::CheckState, "0"},
    {"txtASCIIpath", PrefKind::Text, "D:\\"},
    {"txtASCIIprefix", PrefKind::Text, "my_CSVs_"},
    {"chkScreen", PrefKind::CheckState, "0"},
    {"txtScreenPath", PrefKind::Text, "D:\\"},
    {"txtScreenPrefix", PrefKind::Text, "my_Images_"},
    {"chkRestoreRun", PrefKind::CheckState, "1"},
    {"cboFileType", PrefKind::FileTypeIndex, "1"},
    {"optInksaverOn", PrefKind::Option, "1"},
    {"optInksaverOff", PrefKind::Option, "0"},
    {"optLandscape", PrefKind::Option, "1"},
    {"optPortrait", PrefKind::Option, "0"},
};

inline constexpr int kDelayMinimum = 0;
inline constexpr int kDelayMaximum = 60;

// A loaded preference: an integer for check states, the delay and the file-type index, a
// Boolean for option buttons, the text itself for text fields.
using PreferenceValue = std::variant<int, bool, QString>;

// A stored integer: optional sign and decimal digits, blanks around allowed, 16-bit signed.
std::optional<int> parseInteger16(const QString& text);
// True or False in any letter case, or a number (0 is false, any other number true).
std::optional<bool> parseBooleanText(const QString& text);
// The stored text read by the rules of its kind; nothing when it breaks them.
std::optional<PreferenceValue> parseValue(PrefKind kind, const QString& text);
// The stored text when it meets the rules of its kind, otherwise the key's default.
PreferenceValue loadedValue(const PreferenceKey& key, const std::optional<QString>& storedText);
// The text form written to the store: decimal integer text, the word True or False, or the
// text unchanged.
QString storedText(const PreferenceValue& value);

// The per-user INI file. Reading goes through QSettings; writing replaces the whole file at
// once, so a failed write leaves the previous file as it was.
class PreferenceStore {
public:
    explicit PreferenceStore(QString filePath);

    // The running executable's file name without folder and extension.
    static QString applicationName();
    // $XDG_CONFIG_HOME/<application name>/<application name>.ini, ~/.config by default.
    static QString defaultFilePath();
    // The same file of the program called `applicationName`.
    static QString filePathFor(const QString& applicationName);

    const QString& filePath() const { return filePath_; }

    // Every key of section "Prefs" with its text; a missing or unreadable file holds none.
    QMap<QString, QString> readSection() const;
    // The stored text of `key`, or `defaultText` when the key is missing.
    QString read(const QString& key, const QString& defaultText) const;

    // Writes these keys, in this order, at the head of section "Prefs"; every other key and
    // section of the file stays. The file is replaced as a whole (see files::replaceFile): on
    // failure returns false, leaves any previous file untouched and describes the cause.
    bool writeAll(const QList<std::pair<QString, QString>>& values, QString* error = nullptr);

    // Deletes everything stored for the program: its section, and the file when nothing else
    // is in it. Failures (nothing stored yet, a read-only file) are ignored.
    void removeAll();

private:
    QString filePath_;
};

// A value as QSettings writes it in an INI file: quoted and escaped where needed.
QString iniValueText(const QString& value);

// The INI text `existing` with these keys written, in this order, at the head of section
// "Prefs" (added at the end when missing); earlier lines of these keys go, every other line
// of the file stays where it was.
QString mergedIniText(const QString& existing, const QList<std::pair<QString, QString>>& values);

} // namespace prefs
