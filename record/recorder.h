#pragma once

#include "acquisition/acquisition_cycle.h"
#include "acquisition/file_stamps.h"
#include "acquisition/monotonic_clock.h"
#include "instrument/command_procedures.h"
#include "platform/quorix/quorix_control.h"
#include "record/record_options.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <optional>

namespace record {

// The acquisition run without a window: the same cycle and stop procedure as behind Start and
// Stop, with the status line kept as text and each cycle reported as one line.
class Recorder final : private acquisition::RunHost {
public:
    struct Output {
        std::FILE* out = stdout; // the cycle lines
        std::FILE* err = stderr; // failures and the instrument found
        bool terminal = false;   // `out` is a terminal: the status line with dots is shown
        OutputMode mode = OutputMode::Lines;
    };

    Recorder(quorix::QuorixControl& quorix, const acquisition::RunPreferences& preferences,
             Output output);

    // Seams: the local date and time of file stamps and cycle lines, the stop signal.
    void setLocalClock(std::function<QDateTime()> clock);
    void setStopSignal(std::function<int()> pendingSignal);

    // Finds the instrument (only `resource`, when given), runs until the limit, a stop signal
    // or a failure, and gives the exit code.
    int run(const std::optional<QString>& resource);

private:
    bool isIdle() const override { return idle_; }
    void setRunningButtons() override { idle_ = false; }
    void setIdleButtons() override { idle_ = true; }
    QString statusText() const override { return status_; }
    void setStatusText(const QString& text) override;
    void addProgressDot() override;
    void yield() override;
    void waitSeconds(double seconds) override;
    void clearLink() override;
    void sendCommand(const QString& command) override;
    bool sendCommandBounded(const QString& command, int attempts) override;
    QString queryInstrument(const QString& query) override;
    Answer askSaveAcquisition() override { return Answer::Yes; }
    void warnNothingSelected() override;
    void cbPrefs_Click() override {}
    void reportSaveFailure(const QString& fileName, const QString& instrumentMessage) override;
    void cycleStarted(int cycleCount) override;
    void fileSaved(const QString& fileName) override;

    void checkStopSignal();
    void reportCycle(const char* outcome);
    void showStatusLine(bool atOnce);
    void clearStatusLine();
    void print(std::FILE* stream, const QString& text);

    quorix::QuorixControl& quorix_;
    const acquisition::RunPreferences& preferences_;
    Output output_;
    std::function<QDateTime()> localClock_ = &QDateTime::currentDateTime;
    std::function<int()> pendingSignal_;
    acquisition::SteadyClock clock_;
    instrument::CommandProcedures procedures_;
    acquisition::FileStamps stamps_;
    acquisition::AcquisitionCycle cycle_;

    bool idle_ = true;
    QString status_;
    QElapsedTimer statusShown_;
    bool statusOnScreen_ = false;
    int stopSignal_ = 0;
    bool nothingSelected_ = false;
    bool saveFailed_ = false;
    int cycleNumber_ = 0;
    QStringList savedFiles_;
};

} // namespace record
