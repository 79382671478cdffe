#include "instrument/command_procedures.h"

namespace instrument {

CommandProcedures::CommandProcedures(quorix::QuorixControl& quorix, std::function<bool()> isIdle,
                                     std::function<void(double)> waitSeconds,
                                     std::function<void()> addProgressDot)
    : quorix_(quorix), isIdle_(std::move(isIdle)), waitSeconds_(std::move(waitSeconds)),
      addProgressDot_(std::move(addProgressDot)) {}

// ReportErrors goes off before every attempt, not once per call: a command sent by a handler
// that ran during the previous yield has turned it on again on its way out. A control that
// raises all the same only costs this attempt.
bool CommandProcedures::attemptWrite(const QString& command) {
    quorix_.setReportErrors(false);
    try {
        quorix_.Write(command);
    } catch (const quorix::Error&) {
        return false;
    }
    return quorix_.LastStatus() >= 0;
}

bool CommandProcedures::attemptQuery(const QString& query, QString& reply) {
    quorix_.setReportErrors(false);
    try {
        reply = quorix_.Query(query);
    } catch (const quorix::Error&) {
        reply.clear();
        return false;
    }
    return quorix_.LastStatus() >= 0;
}

bool CommandProcedures::keepTrying() {
    waitSeconds_(RetryPauseSeconds);
    if (isIdle_()) {
        return false;
    }
    addProgressDot_();
    return true;
}

void CommandProcedures::sendCommand(const QString& command) {
    sendCommandBounded(command, 0);
}

bool CommandProcedures::sendCommandBounded(const QString& command, int attempts) {
    int made = 1;
    bool done = attemptWrite(command);
    while (!done && (attempts <= 0 || made < attempts) && keepTrying()) {
        // The status is read again first: a handler that ran during the yield may have sent a
        // command of its own, and its success ends this retry loop too.
        if (quorix_.LastStatus() >= 0) {
            done = true;
            break;
        }
        ++made;
        done = attemptWrite(command);
    }
    quorix_.setReportErrors(true);
    return done;
}

QString CommandProcedures::queryInstrument(const QString& query) {
    QString reply;
    bool answered = attemptQuery(query, reply);
    while (!answered && keepTrying()) {
        answered = attemptQuery(query, reply);
    }
    quorix_.setReportErrors(true);
    return reply;
}

} // namespace instrument
