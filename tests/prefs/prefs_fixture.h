#pragma once

#include "prefs/frm_prefs.h"
#include "prefs/frm_screen_options.h"
#include "prefs/preference_set.h"
#include "prefs/preference_store.h"
#include "tests/support/preset_message_boxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace prefs_testing {

// A control of `window` found by its name; null when there is none of that type.
template <class T> T* control(QWidget& window, const char* name) {
    return window.findChild<T*>(QLatin1String(name));
}

// The three windows wired as the main window wires them, with the preference set loaded from
// a settings file of their own.
struct Windows {
    QTemporaryDir dir;
    testing::PresetMessageBoxes boxes;
    QWidget main;
    prefs::frmPrefs prefsWindow{boxes};
    prefs::frmScreenOptions screenOptions;
    prefs::PreferenceStore store{dir.filePath(QStringLiteral("config/Varnolt/Varnolt.ini"))};
    int prefsHelpCalls = 0;
    int screenHelpCalls = 0;

    explicit Windows(bool load = true) {
        main.setObjectName(QStringLiteral("frmMain"));
        main.setWindowTitle(QStringLiteral("main"));
        main.resize(200, 80);
        prefsWindow.setMainWindow(&main);
        prefsWindow.setScreenOptions(&screenOptions);
        prefsWindow.setShowHelp([this] { ++prefsHelpCalls; });
        prefsWindow.setResetToDefaults(
            [this] { prefs::loadPrefs(true, prefsWindow, screenOptions, store); });
        screenOptions.setPrefsWindow(&prefsWindow);
        screenOptions.setShowHelp([this] { ++screenHelpCalls; });
        if (load) {
            prefs::loadPrefs(false, prefsWindow, screenOptions, store);
        }
    }

    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;

    void load() { prefs::loadPrefs(false, prefsWindow, screenOptions, store); }

    int visibleWindows() const {
        return int(main.isVisible()) + int(prefsWindow.isVisible()) +
               int(screenOptions.isVisible());
    }

    // The Prefs button of the main window: hide it, show the preferences window.
    void openPrefs() {
        main.hide();
        prefsWindow.show();
    }

    template <class T> T* p(const char* name) { return control<T>(prefsWindow, name); }
    template <class T> T* s(const char* name) { return control<T>(screenOptions, name); }
};

// Makes `window` the active window, so that focus changes inside it take effect.
inline bool activate(QWidget& window) {
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    return QApplication::activeWindow() == &window;
}

// Gives `field` the keyboard focus the way a click or Tab would.
inline bool focus(QWidget& widget) {
    widget.setFocus(Qt::TabFocusReason);
    return QApplication::focusWidget() == &widget;
}

} // namespace prefs_testing
