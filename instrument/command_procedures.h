#pragma once

#include "platform/quorix/quorix_control.h"

#include <QString>
#include <functional>

namespace instrument {

// sendCommand and queryInstrument. While a run is in progress they repeat a failing operation
// every 0.1 s, with a progress dot per retry, until it succeeds or the run is stopped; while
// idle they try once. They never report a failure.
class CommandProcedures {
public:
    // isIdle: whether the Start button is enabled (the run flag).
    // waitSeconds: the timed wait, which yields to window events.
    // addProgressDot: the progress dot, which yields to window events as well.
    CommandProcedures(quorix::QuorixControl& quorix, std::function<bool()> isIdle,
                      std::function<void(double)> waitSeconds,
                      std::function<void()> addProgressDot);

    void sendCommand(const QString& command);
    // As sendCommand, but the command is dropped after `attempts` failed attempts (or earlier,
    // when the run flag ends the loop). True when it went through.
    bool sendCommandBounded(const QString& command, int attempts);
    // The reply of the last attempt, also when the procedure gave up after a failure.
    QString queryInstrument(const QString& query);

    static constexpr double RetryPauseSeconds = 0.1;

private:
    bool attemptWrite(const QString& command);
    bool attemptQuery(const QString& query, QString& reply);
    // After a failed attempt: the pause, then false if the run has ended, else a progress dot.
    bool keepTrying();

    quorix::QuorixControl& quorix_;
    std::function<bool()> isIdle_;
    std::function<void(double)> waitSeconds_;
    std::function<void()> addProgressDot_;
};

} // namespace instrument
