#include "record/recorder.h"

#include "acquisition/event_pump.h"
#include "acquisition/progress_dots.h"
#include "acquisition/timed_wait.h"
#include "instrument/instrument_search.h"
#include "platform/lumetra/resource_name.h"
#include "record/exit_codes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace record {

namespace {
// The status line on a terminal follows the dots at most this often; the trigger wait adds
// them thousands of times a second.
constexpr int StatusIntervalMs = 50;
} // namespace

Recorder::Recorder(quorix::QuorixControl& quorix, const acquisition::RunPreferences& preferences,
                   Output output)
    : quorix_(quorix), preferences_(preferences), output_(output),
      procedures_(
          quorix, [this] { return isIdle(); }, [this](double seconds) { waitSeconds(seconds); },
          [this] { addProgressDot(); }),
      cycle_(*this, preferences, stamps_) {}

void Recorder::setLocalClock(std::function<QDateTime()> clock) {
    localClock_ = clock;
    stamps_ = acquisition::FileStamps(std::move(clock));
}

void Recorder::setStopSignal(std::function<int()> pendingSignal) {
    pendingSignal_ = std::move(pendingSignal);
}

int Recorder::run(const std::optional<QString>& resource) {
    if (resource) {
        std::string error;
        if (!lumetra::ResourceName::tryParse(resource->toStdString(), &error)) {
            print(output_.err,
                  QStringLiteral("varnolt-record: --resource: ") + QString::fromStdString(error));
            return ExitBadOption;
        }
    }
    const auto found = instrument::findInstrument(
        quorix_, procedures_, [this](const QString& text) { setStatusText(text); }, resource);
    switch (found.outcome) {
    case instrument::SearchResult::Outcome::NoResources:
        print(output_.err, QStringLiteral("varnolt-record: Lumetra knows no instrument resource; "
                                          "add one with: lumetra-rm add RESOURCE"));
        return ExitNoInstrument;
    case instrument::SearchResult::Outcome::NoneAccepted:
        print(output_.err,
              resource ? QStringLiteral("varnolt-record: %1 did not answer *IDN?; check it with: "
                                        "lumetra-rm probe %1")
                             .arg(*resource)
                       : QStringLiteral("varnolt-record: no resource answered as an instrument "
                                        "of a supported model family (NQX8, LVZ8); check them "
                                        "with: lumetra-rm probe"));
        return ExitNoInstrument;
    case instrument::SearchResult::Outcome::Ready:
        break;
    }
    if (output_.mode != OutputMode::Quiet) {
        print(output_.err, QStringLiteral("varnolt-record: recording from %1: %2")
                               .arg(quorix_.ResourceName(), found.text));
    }
    if (const int signal = pendingSignal_ ? pendingSignal_() : 0) {
        return ExitSignalBase + signal;
    }

    cycle_.cbStart_Click();

    clearStatusLine();
    if (nothingSelected_) {
        return ExitBadOption;
    }
    if (saveFailed_) {
        return ExitSaveFailed;
    }
    if (cycleNumber_ > 0) {
        reportCycle(stopSignal_ != 0 ? "stopped" : "done");
    }
    return stopSignal_ != 0 ? ExitSignalBase + stopSignal_ : ExitLimitReached;
}

void Recorder::setStatusText(const QString& text) {
    status_ = text;
    showStatusLine(true);
}

void Recorder::addProgressDot() {
    status_ = acquisition::withProgressDot(status_);
    showStatusLine(false);
    yield();
}

void Recorder::yield() {
    acquisition::processPendingEvents();
    checkStopSignal();
}

void Recorder::waitSeconds(double seconds) {
    acquisition::TimedWait(
        clock_, [this] { addProgressDot(); },
        [this](std::chrono::milliseconds maxWait) {
            acquisition::processEventsFor(maxWait);
            checkStopSignal();
        })
        .waitSeconds(seconds);
}

void Recorder::clearLink() {
    try {
        quorix_.Clear();
    } catch (const quorix::Error&) {
        // A link that cannot be cleared is left to the retry loops of the commands that follow.
    }
}

void Recorder::sendCommand(const QString& command) {
    procedures_.sendCommand(command);
}

bool Recorder::sendCommandBounded(const QString& command, int attempts) {
    return procedures_.sendCommandBounded(command, attempts);
}

QString Recorder::queryInstrument(const QString& query) {
    return procedures_.queryInstrument(query);
}

void Recorder::warnNothingSelected() {
    nothingSelected_ = true;
    print(output_.err, QStringLiteral("varnolt-record: nothing is selected to save; choose "
                                      "--isf, --csv or --screen"));
}

// The run has ended through the stop procedure already; the cycle's line says so, and the
// failure names the file and what the instrument reported.
void Recorder::reportSaveFailure(const QString& fileName, const QString& instrumentMessage) {
    saveFailed_ = true;
    reportCycle("failed");
    print(output_.err, QStringLiteral("varnolt-record: the instrument did not save %1: %2; "
                                      "check the path and prefix against the folders on the "
                                      "instrument's drive")
                           .arg(fileName, instrumentMessage));
}

void Recorder::cycleStarted(int cycleCount) {
    if (cycleNumber_ > 0) {
        reportCycle(savedFiles_.isEmpty() ? "skipped" : "saved");
    }
    cycleNumber_ = cycleCount;
    savedFiles_.clear();
}

void Recorder::fileSaved(const QString& fileName) {
    savedFiles_.append(fileName);
}

// A stop signal stops a run as the Stop button does: the stop procedure runs nested in the
// cycle's yield, and the cycle ends at its next check point.
void Recorder::checkStopSignal() {
    if (idle_ || stopSignal_ != 0 || !pendingSignal_) {
        return;
    }
    stopSignal_ = pendingSignal_();
    if (stopSignal_ != 0) {
        cycle_.cbStop_Click();
    }
}

void Recorder::reportCycle(const char* outcome) {
    const QDateTime now = localClock_();
    if (output_.mode == OutputMode::Json) {
        const QJsonObject line{
            {QStringLiteral("time"), now.toString(Qt::ISODateWithMs)},
            {QStringLiteral("cycle"), cycleNumber_},
            {QStringLiteral("outcome"), QLatin1String(outcome)},
            {QStringLiteral("files"), QJsonArray::fromStringList(savedFiles_)},
        };
        print(output_.out, QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)));
    } else if (output_.mode == OutputMode::Lines) {
        QStringList words{now.toString(Qt::ISODate), QString::number(cycleNumber_),
                          QLatin1String(outcome)};
        print(output_.out, (words + savedFiles_).join(u' '));
    }
}

void Recorder::showStatusLine(bool atOnce) {
    if (!output_.terminal || output_.mode != OutputMode::Lines) {
        return;
    }
    if (!atOnce && statusShown_.isValid() && statusShown_.elapsed() < StatusIntervalMs) {
        return;
    }
    std::fprintf(output_.out, "\r\033[K%s", status_.toLocal8Bit().constData());
    std::fflush(output_.out);
    statusOnScreen_ = true;
    statusShown_.start();
}

void Recorder::clearStatusLine() {
    if (statusOnScreen_) {
        std::fputs("\r\033[K", output_.out);
        std::fflush(output_.out);
        statusOnScreen_ = false;
    }
}

void Recorder::print(std::FILE* stream, const QString& text) {
    clearStatusLine();
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

} // namespace record
