#pragma once

#include "acquisition/acquisition_cycle.h"
#include "prefs/preference_values.h"

namespace record {

// The preference set as the run reads it, from plain values instead of the option windows.
class StoredRunPreferences final : public acquisition::RunPreferences {
public:
    explicit StoredRunPreferences(prefs::PreferenceValues values) : values_(std::move(values)) {}

    int chkUseTimestamps() const override { return values_.integer("chkUseTimestamps"); }
    int chkAsk() const override { return values_.integer("chkAsk"); }
    int chkStopAfter() const override { return values_.integer("chkStopAfter"); }
    int chkWFM() const override { return values_.integer("chkWFM"); }
    int chkASCII() const override { return values_.integer("chkASCII"); }
    int chkScreen() const override { return values_.integer("chkScreen"); }
    int chkRestoreRun() const override { return values_.integer("chkRestoreRun"); }
    int hsDelay() const override { return values_.integer("hsDelay"); }
    QString txtAcqLimit() const override { return values_.text("txtAcqLimit"); }
    QString WFMfspec() const override { return values_.WFMfspec(); }
    QString ASCIIfspec() const override { return values_.ASCIIfspec(); }
    QString ScreenFspec() const override { return values_.ScreenFspec(); }
    QString FileType() const override { return values_.FileType(); }
    QString Layout() const override { return values_.Layout(); }
    QString InkSaver() const override { return values_.InkSaver(); }
    QString fileTypeText() const override { return values_.fileTypeText(); }

private:
    prefs::PreferenceValues values_;
};

} // namespace record
