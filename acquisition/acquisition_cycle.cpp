#include "acquisition/acquisition_cycle.h"

#include "acquisition/save_commands.h"
#include "prefs/input_rules.h"

#include <cmath>

namespace acquisition {

namespace {

const QString NotBusy = QStringLiteral("0");

QString numberText(double value) {
    if (std::isfinite(value) && std::floor(value) == value && std::fabs(value) < 1e15) {
        return QString::number(static_cast<qint64>(value));
    }
    return QString::number(value, 'g', 15);
}

} // namespace

QString stoppedText(const QString& statusText) {
    return numberText(prefs::leadingNumberValue(statusText)) + QStringLiteral(": Stopped");
}

AcquisitionCycle::AcquisitionCycle(RunHost& host, const RunPreferences& preferences,
                                   FileStamps& stamps)
    : host_(host), preferences_(preferences), stamps_(stamps) {}

QString AcquisitionCycle::nextFileStamp() {
    return stamps_.nextFileStamp(preferences_.chkUseTimestamps() != 0);
}

void AcquisitionCycle::showPhase(int cycleCount, const char* phase) {
    host_.setStatusText(QString::number(cycleCount) + QLatin1String(phase));
}

void AcquisitionCycle::cbStart_Click() {
    if (preferences_.chkWFM() == 0 && preferences_.chkASCII() == 0 &&
        preferences_.chkScreen() == 0) {
        host_.warnNothingSelected();
        host_.cbPrefs_Click();
        return;
    }
    host_.setRunningButtons();
    host_.clearLink();
    host_.sendCommand(QStringLiteral("HEAD 0;VERB 0"));
    int cycleCount = 0;
    host_.sendCommand(QStringLiteral("ACQ:STOPA SEQ;STATE 0"));
    // Record the errors of the saves, from a clean slate: what an earlier stop left in the
    // event status register must not be taken for a failure of this run's first save.
    host_.sendCommand(QStringLiteral("DESE %1").arg(SaveErrorEvents));
    host_.sendCommand(QStringLiteral("*CLS"));

    for (;;) {
        ++cycleCount;
        host_.cycleStarted(cycleCount);
        showPhase(cycleCount, ": Waiting for Acquisition");
        host_.sendCommand(QStringLiteral("ACQ:STATE 1"));

        for (;;) {
            if (host_.queryInstrument(QStringLiteral("BUSY?")) == NotBusy) {
                break;
            }
            host_.addProgressDot();
            if (host_.isIdle()) {
                break;
            }
        }
        if (host_.isIdle()) {
            return;
        }

        const QString stamp = nextFileStamp();
        bool save = true;
        if (preferences_.chkAsk() == 1) {
            switch (host_.askSaveAcquisition()) {
            case RunHost::Answer::Cancel:
                cbStop_Click();
                return;
            case RunHost::Answer::No:
                save = false;
                break;
            case RunHost::Answer::Yes:
                break;
            }
        }
        if (save) {
            const int delay = preferences_.hsDelay();
            if (delay > 0) {
                host_.setStatusText(QStringLiteral("Delay after trigger"));
                host_.waitSeconds(delay);
            }
            if (preferences_.chkWFM() == 1 && saveIsf(cycleCount, stamp) == Step::RunOver) {
                return;
            }
            if (preferences_.chkASCII() == 1 && saveCsv(cycleCount, stamp) == Step::RunOver) {
                return;
            }
            if (preferences_.chkScreen() == 1 && saveScreen(cycleCount, stamp) == Step::RunOver) {
                return;
            }
        }

        if (preferences_.chkStopAfter() == 1 &&
            cycleCount >= prefs::leadingNumberValue(preferences_.txtAcqLimit())) {
            cbStop_Click();
            showPhase(cycleCount, ": Done");
        }
        if (host_.isIdle()) {
            return;
        }
    }
}

AcquisitionCycle::Step AcquisitionCycle::saveWait() {
    QString reply;
    do {
        reply = host_.queryInstrument(QStringLiteral("BUSY?"));
        host_.addProgressDot();
    } while (reply != NotBusy && !host_.isIdle());
    return host_.isIdle() ? Step::RunOver : Step::Done;
}

AcquisitionCycle::Step AcquisitionCycle::finishSave(int cycleCount, const QString& fileName) {
    if (saveWait() == Step::RunOver) {
        return Step::RunOver;
    }
    // A reply that is no number tells of no error.
    const int events = host_.queryInstrument(QStringLiteral("*ESR?")).trimmed().toInt();
    if (host_.isIdle()) {
        return Step::RunOver;
    }
    if ((events & SaveErrorEvents) == 0) {
        host_.fileSaved(fileName);
        return Step::Done;
    }
    const QString message = host_.queryInstrument(QStringLiteral("ALLEV?"));
    cbStop_Click();
    showPhase(cycleCount, ": Save failed");
    host_.reportSaveFailure(fileName, message);
    return Step::RunOver;
}

AcquisitionCycle::Step AcquisitionCycle::saveIsf(int cycleCount, const QString& stamp) {
    host_.sendCommand(QStringLiteral("SAV:WAVE:FILEF INTERNAL"));
    showPhase(cycleCount, ": Save ISF");
    host_.yield();
    const QString fileName = preferences_.WFMfspec() + stamp;
    host_.sendCommand(waveformSaveCommand(fileName));
    if (finishSave(cycleCount, fileName) == Step::RunOver) {
        return Step::RunOver;
    }
    host_.queryInstrument(QStringLiteral("FILES:DIR?"));
    return Step::Done;
}

AcquisitionCycle::Step AcquisitionCycle::saveCsv(int cycleCount, const QString& stamp) {
    host_.sendCommand(QStringLiteral("SAV:WAVE:FILEF SPREADS"));
    host_.sendCommand(QStringLiteral("SAV:WAVE:GATI NON"));
    showPhase(cycleCount, ": Save CSV");
    host_.yield();
    const QString fileName = preferences_.ASCIIfspec() + stamp;
    host_.sendCommand(waveformSaveCommand(fileName));
    return finishSave(cycleCount, fileName);
}

AcquisitionCycle::Step AcquisitionCycle::saveScreen(int cycleCount, const QString& stamp) {
    showPhase(cycleCount, ": Save Screen");
    host_.yield();
    host_.sendCommand(preferences_.FileType());
    host_.sendCommand(preferences_.Layout());
    host_.sendCommand(preferences_.InkSaver());
    const QString fileName =
        preferences_.ScreenFspec() + stamp + QLatin1Char('.') + preferences_.fileTypeText();
    host_.sendCommand(imageSaveCommand(fileName));
    return finishSave(cycleCount, fileName);
}

void AcquisitionCycle::cbStop_Click() {
    host_.setStatusText(stoppedText(host_.statusText()));
    host_.clearLink();
    if (preferences_.chkRestoreRun() == 1) {
        int attempts = RestoreAttempts;
        for (const char* command :
             {"TRIG", "ACQ:STATE 0", "ACQ:STOPA RUNST", "TRIG:A:MOD AUTO", "ACQ:STATE 1"}) {
            if (!host_.sendCommandBounded(QString::fromLatin1(command), attempts)) {
                attempts = 1;
            }
        }
    }
    host_.setIdleButtons();
    host_.setStatusText(stoppedText(host_.statusText()));
}

} // namespace acquisition
