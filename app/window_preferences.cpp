#include "app/window_preferences.h"

#include "prefs/controls.h"
#include "prefs/frm_prefs.h"
#include "prefs/frm_screen_options.h"

#include <QComboBox>

namespace app {

WindowPreferences::WindowPreferences(const prefs::frmPrefs& prefsWindow,
                                     const prefs::frmScreenOptions& screenOptions)
    : prefs_(prefsWindow), screen_(screenOptions) {}

int WindowPreferences::chkUseTimestamps() const {
    return prefs::checkValue(*prefs_.chkUseTimestamps());
}
int WindowPreferences::chkAsk() const {
    return prefs::checkValue(*prefs_.chkAsk());
}
int WindowPreferences::chkStopAfter() const {
    return prefs::checkValue(*prefs_.chkStopAfter());
}
int WindowPreferences::chkWFM() const {
    return prefs::checkValue(*prefs_.chkWFM());
}
int WindowPreferences::chkASCII() const {
    return prefs::checkValue(*prefs_.chkASCII());
}
int WindowPreferences::chkScreen() const {
    return prefs::checkValue(*prefs_.chkScreen());
}
int WindowPreferences::chkRestoreRun() const {
    return prefs::checkValue(*prefs_.chkRestoreRun());
}
int WindowPreferences::hsDelay() const {
    return prefs_.hsDelay()->value();
}
QString WindowPreferences::txtAcqLimit() const {
    return prefs_.txtAcqLimit()->text();
}
QString WindowPreferences::WFMfspec() const {
    return prefs_.WFMfspec();
}
QString WindowPreferences::ASCIIfspec() const {
    return prefs_.ASCIIfspec();
}
QString WindowPreferences::ScreenFspec() const {
    return prefs_.ScreenFspec();
}
QString WindowPreferences::FileType() const {
    return screen_.FileType();
}
QString WindowPreferences::Layout() const {
    return screen_.Layout();
}
QString WindowPreferences::InkSaver() const {
    return screen_.InkSaver();
}
QString WindowPreferences::fileTypeText() const {
    return screen_.cboFileType()->currentText();
}

} // namespace app
