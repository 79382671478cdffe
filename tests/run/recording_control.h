#pragma once

#include "platform/quorix/quorix_control.h"

#include <QStringList>
#include <functional>

namespace testing {

// Passes every call on to a real control and keeps the program's side of the traffic:
// "Clear", and every Write and Query with its text, in order. Can make Clear fail.
class RecordingControl final : public quorix::QuorixControl {
public:
    explicit RecordingControl(quorix::QuorixControl& inner) : inner_(inner) {}

    QStringList traffic;
    bool clearFails = false;
    // Sees each entry before the call goes out.
    std::function<void(const QString&)> observer;

    void setReportErrors(bool on) override { inner_.setReportErrors(on); }
    bool ReportErrors() const override { return inner_.ReportErrors(); }
    void setSetting(int id, int value) override { inner_.setSetting(id, value); }
    std::optional<QStringList> ResourceList() override { return inner_.ResourceList(); }
    QString ResourceName() const override { return inner_.ResourceName(); }
    void setResourceName(const QString& name) override { inner_.setResourceName(name); }
    void Clear() override {
        note(QStringLiteral("Clear"));
        if (clearFails) {
            if (inner_.ReportErrors()) {
                throw quorix::Error(-1073807194, QStringLiteral("clear failed"));
            }
            return;
        }
        inner_.Clear();
    }
    void Write(const QString& command) override {
        note(command);
        inner_.Write(command);
    }
    QString Query(const QString& query) override {
        note(query);
        return inner_.Query(query);
    }
    std::int32_t LastStatus() const override { return inner_.LastStatus(); }

private:
    void note(const QString& entry) {
        if (observer) {
            observer(entry);
        }
        traffic << entry;
    }
    quorix::QuorixControl& inner_;
};

// Runs of the same poll collapse into one entry with a "*", so that sequences compare
// independently of how often the instrument was asked before it answered.
inline QStringList collapsedPolls(const QStringList& traffic) {
    QStringList result;
    for (const QString& entry : traffic) {
        if (entry == QLatin1String("BUSY?")) {
            if (result.isEmpty() || result.last() != QLatin1String("BUSY?*")) {
                result << QStringLiteral("BUSY?*");
            }
        } else {
            result << entry;
        }
    }
    return result;
}

} // namespace testing
