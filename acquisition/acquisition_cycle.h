#pragma once

#include "acquisition/file_stamps.h"

#include <QString>

namespace acquisition {

// The preference set as the run reads it: each value at the moment it is needed.
class RunPreferences {
public:
    virtual ~RunPreferences() = default;
    // Check boxes: 0 unchecked, 1 checked, 2 greyed.
    virtual int chkUseTimestamps() const = 0;
    virtual int chkAsk() const = 0;
    virtual int chkStopAfter() const = 0;
    virtual int chkWFM() const = 0;
    virtual int chkASCII() const = 0;
    virtual int chkScreen() const = 0;
    virtual int chkRestoreRun() const = 0;
    virtual int hsDelay() const = 0; // whole seconds
    virtual QString txtAcqLimit() const = 0;
    // The public strings of the option windows.
    virtual QString WFMfspec() const = 0;
    virtual QString ASCIIfspec() const = 0;
    virtual QString ScreenFspec() const = 0;
    virtual QString FileType() const = 0;
    virtual QString Layout() const = 0;
    virtual QString InkSaver() const = 0;
    // The text of the selected image file type ("BMP", "PNG", "TIFF"; empty if none).
    virtual QString fileTypeText() const = 0;
};

// What the run needs of the main window.
class RunHost {
public:
    enum class Answer { Yes, No, Cancel };

    virtual ~RunHost() = default;
    // The run flag: whether Start is enabled.
    virtual bool isIdle() const = 0;
    virtual void setRunningButtons() = 0;
    virtual void setIdleButtons() = 0;
    virtual QString statusText() const = 0;
    // Sets the status line and shows it at once.
    virtual void setStatusText(const QString& text) = 0;
    virtual void addProgressDot() = 0;
    virtual void yield() = 0;
    virtual void waitSeconds(double seconds) = 0;
    // Quorix1.Clear; a failure is the retry loops' business, never the end of the program.
    virtual void clearLink() = 0;
    virtual void sendCommand(const QString& command) = 0;
    // At most `attempts` tries; false when the command was dropped.
    virtual bool sendCommandBounded(const QString& command, int attempts) = 0;
    virtual QString queryInstrument(const QString& query) = 0;
    virtual Answer askSaveAcquisition() = 0;
    // The warning "Nothing to selected to Save. Check Prefs".
    virtual void warnNothingSelected() = 0;
    virtual void cbPrefs_Click() = 0;
    // The instrument refused a save: the file's name on the instrument and the instrument's own
    // event report. Called after the run has ended through the stop procedure.
    virtual void reportSaveFailure(const QString& fileName, const QString& instrumentMessage) = 0;

    // What a front end without a status line reports: the start of each cycle, and each file
    // the instrument saved without recording an error.
    virtual void cycleStarted(int /*cycleCount*/) {}
    virtual void fileSaved(const QString& /*fileName*/) {}
};

// The acquisition run behind Start and the stop procedure behind Stop.
class AcquisitionCycle {
public:
    AcquisitionCycle(RunHost& host, const RunPreferences& preferences, FileStamps& stamps);

    // The whole run; returns when it has ended, or at once when nothing is selected to save.
    void cbStart_Click();
    void cbStop_Click();
    QString nextFileStamp();

    // A command of the restore sequence gets about a second's worth of attempts; once one was
    // dropped, the link is taken as dead and the rest get one attempt each.
    static constexpr int RestoreAttempts = 10;

    // The events the run has the instrument record: command, execution and device errors.
    // Start-up masks them all; a save is only known to have failed if they are recorded.
    static constexpr int SaveErrorEvents = 0x38;

private:
    enum class Step { Done, RunOver };

    Step saveIsf(int cycleCount, const QString& stamp);
    Step saveCsv(int cycleCount, const QString& stamp);
    Step saveScreen(int cycleCount, const QString& stamp);
    // Polls "BUSY?" with a dot after every poll until "0" or Stop.
    Step saveWait();
    // The save wait, then whether the instrument recorded an error since the last check; a
    // failed save ends the run.
    Step finishSave(int cycleCount, const QString& fileName);
    void showPhase(int cycleCount, const char* phase);

    RunHost& host_;
    const RunPreferences& preferences_;
    FileStamps& stamps_;
};

// The status line's leading number written back as the stop text's count: a plain decimal.
QString stoppedText(const QString& statusText);

} // namespace acquisition
