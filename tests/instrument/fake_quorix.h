#pragma once

#include "platform/quorix/quorix_control.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace testing {

// A scripted instrument I/O control: records every call with the state of ReportErrors at that
// moment, answers from tables, and fails or raises when told to.
class FakeQuorix final : public quorix::QuorixControl {
public:
    static constexpr std::int32_t FailureStatus = -1073807339; // a timeout

    struct Call {
        QString member;   // "setReportErrors", "setSetting", "ResourceList", "setResourceName",
                          // "Clear", "Write", "Query"
        QString argument; // the text, the setting as "id=value", or "on"/"off"
        bool reportErrors;
    };

    // Script.
    std::optional<QStringList> resources = QStringList{};
    QHash<QString, QString> idnOf;   // resource -> reply to "*IDN?"
    QHash<QString, QString> replyTo; // query -> reply (other queries: "0")
    int failNext = 0;                // the next N Write/Query calls fail
    QSet<QString> failingCommands;   // Write/Query of these texts always fail
    bool raiseEvenWhenOff = false;   // failures raise whatever ReportErrors says
    bool clearRaises = false;
    QSet<QString> unreachable; // setResourceName of these raises
    // Called after each failed Write/Query with its number (1, 2, ...), before it returns.
    std::function<void(int)> onFailure;
    // What a failed Query returns (default: nothing), given the failure's number.
    std::function<QString(int)> failedReply;
    // Sees every call as it is recorded.
    std::function<void(const Call&)> observer;

    // Record.
    QList<Call> calls;
    int failures = 0;

    QStringList members() const {
        QStringList result;
        for (const Call& call : calls) {
            result << call.member;
        }
        return result;
    }
    // "Member argument" for every call of the given members, in order.
    QStringList trafficOf(const QSet<QString>& which) const {
        QStringList result;
        for (const Call& call : calls) {
            if (which.contains(call.member)) {
                result << call.member + QLatin1Char(' ') + call.argument;
            }
        }
        return result;
    }
    int count(const QString& member) const {
        int n = 0;
        for (const Call& call : calls) {
            n += call.member == member ? 1 : 0;
        }
        return n;
    }

    void setReportErrors(bool on) override {
        record("setReportErrors", on ? "on" : "off");
        reportErrors_ = on;
    }
    bool ReportErrors() const override { return reportErrors_; }
    void setSetting(int id, int value) override {
        record("setSetting", QStringLiteral("%1=%2").arg(id).arg(value));
    }
    std::optional<QStringList> ResourceList() override {
        record("ResourceList", {});
        return resources;
    }
    QString ResourceName() const override { return resourceName_; }
    void setResourceName(const QString& name) override {
        record("setResourceName", name);
        resourceName_ = name;
        if (unreachable.contains(name)) {
            throw quorix::Error(FailureStatus, QStringLiteral("cannot open ") + name);
        }
    }
    void Clear() override {
        record("Clear", resourceName_);
        if (clearRaises) {
            throw quorix::Error(FailureStatus, QStringLiteral("clear failed"));
        }
    }
    void Write(const QString& command) override {
        record("Write", command);
        if (shouldFail(command)) {
            fail();
            return;
        }
        lastStatus_ = 0;
    }
    QString Query(const QString& query) override {
        record("Query", query);
        if (shouldFail(query)) {
            fail();
            return failedReply ? failedReply(failures) : QString();
        }
        lastStatus_ = 0;
        if (query == QLatin1String("*IDN?")) {
            return idnOf.value(resourceName_);
        }
        return replyTo.value(query, QStringLiteral("0"));
    }
    std::int32_t LastStatus() const override { return lastStatus_; }

    // The reply of the attempt that fails or succeeds next.
    void setLastStatus(std::int32_t status) { lastStatus_ = status; }

private:
    void record(const char* member, const QString& argument) {
        calls.append(Call{QString::fromLatin1(member), argument, reportErrors_});
        if (observer) {
            observer(calls.last());
        }
    }
    bool shouldFail(const QString& text) {
        if (failingCommands.contains(text)) {
            return true;
        }
        if (failNext > 0) {
            --failNext;
            return true;
        }
        return false;
    }
    void fail() {
        lastStatus_ = FailureStatus;
        ++failures;
        if (onFailure) {
            onFailure(failures);
        }
        if (reportErrors_ || raiseEvenWhenOff) {
            throw quorix::Error(FailureStatus, QStringLiteral("scripted failure"));
        }
    }

    bool reportErrors_ = true;
    QString resourceName_;
    std::int32_t lastStatus_ = 0;
};

} // namespace testing
