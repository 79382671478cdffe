#pragma once

#include "prefs/preference_store.h"

#include <QMap>
#include <QString>

namespace prefs {

// The preference set held as plain values, for a program without the option windows: after
// load() each value is what loading the store leaves in the control of the same name,
// including the exclusive option-button pairs.
class PreferenceValues {
public:
    // Every preference at its default.
    PreferenceValues();

    // Each key from the store; a key that is missing or breaks its value rules gets its
    // default, as in the windows.
    static PreferenceValues load(const PreferenceStore& store);

    // Sets one preference from its stored text form, as loading would. False, and nothing
    // changed, for an unknown key or a text that breaks the key's value rules.
    bool set(const QString& key, const QString& text);

    // The value of `key`, which must be one of the twenty.
    PreferenceValue value(const QString& key) const { return values_.value(key); }
    int integer(const char* key) const;
    bool option(const char* key) const;
    QString text(const char* key) const;

    // The public strings the option windows derive from these values.
    QString WFMfspec() const;
    QString ASCIIfspec() const;
    QString ScreenFspec() const;
    QString FileType() const;
    QString Layout() const;
    QString InkSaver() const;
    QString fileTypeText() const;

private:
    void assign(const PreferenceKey& key, const PreferenceValue& value);

    QMap<QString, PreferenceValue> values_;
};

} // namespace prefs
