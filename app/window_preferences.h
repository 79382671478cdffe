#pragma once

#include "acquisition/acquisition_cycle.h"

namespace prefs {
class frmPrefs;
class frmScreenOptions;
} // namespace prefs

namespace app {

// The preference set as the run reads it: straight from the controls of the two option
// windows, at the moment each value is needed.
class WindowPreferences final : public acquisition::RunPreferences {
public:
    WindowPreferences(const prefs::frmPrefs& prefsWindow,
                      const prefs::frmScreenOptions& screenOptions);

    int chkUseTimestamps() const override;
    int chkAsk() const override;
    int chkStopAfter() const override;
    int chkWFM() const override;
    int chkASCII() const override;
    int chkScreen() const override;
    int chkRestoreRun() const override;
    int hsDelay() const override;
    QString txtAcqLimit() const override;
    QString WFMfspec() const override;
    QString ASCIIfspec() const override;
    QString ScreenFspec() const override;
    QString FileType() const override;
    QString Layout() const override;
    QString InkSaver() const override;
    QString fileTypeText() const override;

private:
    const prefs::frmPrefs& prefs_;
    const prefs::frmScreenOptions& screen_;
};

} // namespace app
