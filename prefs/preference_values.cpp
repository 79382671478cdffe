#include "prefs/preference_values.h"

#include "prefs/public_strings.h"

namespace prefs {

namespace {

const PreferenceKey* keyNamed(const QString& name) {
    for (const PreferenceKey& key : kPreferenceKeys) {
        if (name == QLatin1String(key.key)) {
            return &key;
        }
    }
    return nullptr;
}

// The other button of an option pair.
const char* partnerOf(const QString& name) {
    static const std::pair<const char*, const char*> pairs[] = {{"optInksaverOn", "optInksaverOff"},
                                                                {"optLandscape", "optPortrait"}};
    for (const auto& [first, second] : pairs) {
        if (name == QLatin1String(first)) {
            return second;
        }
        if (name == QLatin1String(second)) {
            return first;
        }
    }
    return nullptr;
}

} // namespace

PreferenceValues::PreferenceValues() {
    for (const PreferenceKey& key : kPreferenceKeys) {
        values_.insert(QLatin1String(key.key), loadedValue(key, std::nullopt));
    }
}

PreferenceValues PreferenceValues::load(const PreferenceStore& store) {
    PreferenceValues values;
    const QMap<QString, QString> stored = store.readSection();
    for (const PreferenceKey& key : kPreferenceKeys) {
        const auto found = stored.constFind(QLatin1String(key.key));
        values.assign(key, loadedValue(key, found == stored.constEnd()
                                                ? std::nullopt
                                                : std::optional<QString>(*found)));
    }
    return values;
}

bool PreferenceValues::set(const QString& name, const QString& text) {
    const PreferenceKey* key = keyNamed(name);
    if (!key) {
        return false;
    }
    const auto value = parseValue(key->kind, text);
    if (!value) {
        return false;
    }
    assign(*key, *value);
    return true;
}

// Option buttons of a pair exclude each other: one set true clears the other; one set false
// leaves the other as it is.
void PreferenceValues::assign(const PreferenceKey& key, const PreferenceValue& value) {
    const QString name = QLatin1String(key.key);
    values_.insert(name, value);
    if (key.kind == PrefKind::Option && std::get<bool>(value)) {
        values_.insert(QLatin1String(partnerOf(name)), false);
    }
}

int PreferenceValues::integer(const char* key) const {
    return std::get<int>(values_.value(QLatin1String(key)));
}

bool PreferenceValues::option(const char* key) const {
    return std::get<bool>(values_.value(QLatin1String(key)));
}

QString PreferenceValues::text(const char* key) const {
    return std::get<QString>(values_.value(QLatin1String(key)));
}

QString PreferenceValues::WFMfspec() const {
    return fileSpec(text("txtWFMpath"), text("txtWFMprefix"));
}

QString PreferenceValues::ASCIIfspec() const {
    return fileSpec(text("txtASCIIpath"), text("txtASCIIprefix"));
}

QString PreferenceValues::ScreenFspec() const {
    return fileSpec(text("txtScreenPath"), text("txtScreenPrefix"));
}

QString PreferenceValues::FileType() const {
    return fileTypeCommand(fileTypeText());
}

QString PreferenceValues::Layout() const {
    return layoutCommand(option("optLandscape"));
}

QString PreferenceValues::InkSaver() const {
    return inkSaverCommand(option("optInksaverOn"));
}

QString PreferenceValues::fileTypeText() const {
    return imageFileTypeText(integer("cboFileType"));
}

} // namespace prefs
