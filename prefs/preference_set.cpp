#include "prefs/preference_set.h"

#include "prefs/controls.h"
#include "prefs/frm_prefs.h"
#include "prefs/frm_screen_options.h"
#include "prefs/preference_store.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

namespace prefs {

namespace {

// The control that holds a preference, by its key.
struct Control {
    QCheckBox* checkBox = nullptr;
    QScrollBar* scrollBar = nullptr;
    QLineEdit* field = nullptr;
    QComboBox* list = nullptr;
    QRadioButton* option = nullptr;
};

Control controlFor(const QString& key, const frmPrefs& p, const frmScreenOptions& s) {
    const auto is = [&key](const char* name) { return key == QLatin1String(name); };
    if (is("chkUseTimestamps"))
        return {.checkBox = p.chkUseTimestamps()};
    if (is("hsDelay"))
        return {.scrollBar = p.hsDelay()};
    if (is("chkAsk"))
        return {.checkBox = p.chkAsk()};
    if (is("chkStopAfter"))
        return {.checkBox = p.chkStopAfter()};
    if (is("txtAcqLimit"))
        return {.field = p.txtAcqLimit()};
    if (is("chkWFM"))
        return {.checkBox = p.chkWFM()};
    if (is("txtWFMpath"))
        return {.field = p.txtWFMpath()};
    if (is("txtWFMprefix"))
        return {.field = p.txtWFMprefix()};
    if (is("chkASCII"))
        return {.checkBox = p.chkASCII()};
    if (is("txtASCIIpath"))
        return {.field = p.txtASCIIpath()};
    if (is("txtASCIIprefix"))
        return {.field = p.txtASCIIprefix()};
    if (is("chkScreen"))
        return {.checkBox = p.chkScreen()};
    if (is("txtScreenPath"))
        return {.field = p.txtScreenPath()};
    if (is("txtScreenPrefix"))
        return {.field = p.txtScreenPrefix()};
    if (is("chkRestoreRun"))
        return {.checkBox = p.chkRestoreRun()};
    if (is("cboFileType"))
        return {.list = s.cboFileType()};
    if (is("optInksaverOn"))
        return {.option = s.optInksaverOn()};
    if (is("optInksaverOff"))
        return {.option = s.optInksaverOff()};
    if (is("optLandscape"))
        return {.option = s.optLandscape()};
    if (is("optPortrait"))
        return {.option = s.optPortrait()};
    return {};
}

void assign(const Control& control, const PreferenceValue& value) {
    if (control.checkBox) {
        setCheckValue(*control.checkBox, std::get<int>(value));
    } else if (control.scrollBar) {
        control.scrollBar->setValue(std::get<int>(value));
    } else if (control.field) {
        control.field->setText(std::get<QString>(value));
    } else if (control.list) {
        control.list->setCurrentIndex(std::get<int>(value));
    } else if (control.option) {
        control.option->setChecked(std::get<bool>(value));
    }
}

PreferenceValue valueOf(const Control& control) {
    if (control.checkBox) {
        return checkValue(*control.checkBox);
    }
    if (control.scrollBar) {
        return control.scrollBar->value();
    }
    if (control.field) {
        return control.field->text();
    }
    if (control.list) {
        return control.list->currentIndex();
    }
    if (control.option) {
        return control.option->isChecked();
    }
    return QString();
}

} // namespace

void loadPrefs(bool reset, frmPrefs& prefsWindow, frmScreenOptions& screenOptions,
               PreferenceStore& store) {
    if (reset) {
        store.removeAll();
    }
    const QMap<QString, QString> stored = store.readSection();
    for (const PreferenceKey& key : kPreferenceKeys) {
        const QString name = QLatin1String(key.key);
        const auto found = stored.constFind(name);
        const std::optional<QString> text =
            found == stored.constEnd() ? std::nullopt : std::optional<QString>(*found);
        assign(controlFor(name, prefsWindow, screenOptions), loadedValue(key, text));
    }
    prefsWindow.update_publics();
    screenOptions.update_publics();
}

QList<std::pair<QString, QString>> preferenceTexts(const frmPrefs& prefsWindow,
                                                   const frmScreenOptions& screenOptions) {
    QList<std::pair<QString, QString>> texts;
    for (const PreferenceKey& key : kPreferenceKeys) {
        const QString name = QLatin1String(key.key);
        texts.append({name, storedText(valueOf(controlFor(name, prefsWindow, screenOptions)))});
    }
    return texts;
}

bool savePrefs(const frmPrefs& prefsWindow, const frmScreenOptions& screenOptions,
               PreferenceStore& store, windowing::MessageBoxes& messageBoxes,
               QWidget* messageParent) {
    QString cause;
    if (store.writeAll(preferenceTexts(prefsWindow, screenOptions), &cause)) {
        return true;
    }
    messageBoxes.show(messageParent, QStringLiteral("Varnolt"),
                      QStringLiteral("The preferences could not be saved to the file\n%1\n\n%2")
                          .arg(QDir::toNativeSeparators(store.filePath()), cause),
                      windowing::Icon::None, windowing::Buttons::Ok);
    return false;
}

} // namespace prefs
