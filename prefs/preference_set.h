#pragma once

#include "platform/windowing/message_boxes.h"

#include <QList>
#include <QString>
#include <utility>

class QWidget;

// Moves the preference set between the controls of the two option windows and the store.
namespace prefs {

class PreferenceStore;
class frmPrefs;
class frmScreenOptions;

// Fills every preference control from the store, in the store's key order, with the default
// for a key that is missing or whose stored text breaks its value rules. With `reset` the
// store is emptied first. Each control whose value changes runs its change rule; at the end
// both windows recompute their public strings.
void loadPrefs(bool reset, frmPrefs& prefsWindow, frmScreenOptions& screenOptions,
               PreferenceStore& store);

// The twenty preferences as stored: key and text form, in the store's key order.
QList<std::pair<QString, QString>> preferenceTexts(const frmPrefs& prefsWindow,
                                                   const frmScreenOptions& screenOptions);

// Writes all twenty preferences to the store at once. When the store cannot be written a
// message box titled "Varnolt" names the file, the previous file stays as it was, and the
// result is false.
bool savePrefs(const frmPrefs& prefsWindow, const frmScreenOptions& screenOptions,
               PreferenceStore& store, windowing::MessageBoxes& messageBoxes,
               QWidget* messageParent = nullptr);

} // namespace prefs
