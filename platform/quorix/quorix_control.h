#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <stdexcept>

namespace quorix {

// Raised by a control operation that fails while ReportErrors is on.
class Error : public std::runtime_error {
public:
    Error(std::int32_t status, const QString& text)
        : std::runtime_error(text.toStdString()), status_(status), text_(text) {}
    std::int32_t status() const { return status_; }
    const QString& text() const { return text_; }

private:
    std::int32_t status_;
    QString text_;
};

// The instrument I/O control as the program sees it. The program holds one instance, Quorix1.
//
// Settings (setSetting):
//   14  I/O timeout in milliseconds for every later operation (0 to 32767).
//    1  Traffic trace: 0 off; any other value prints every command, reply and failure on
//       standard error, one line each.
class QuorixControl {
public:
    virtual ~QuorixControl() = default;

    // On: a failed operation throws quorix::Error. Off: Write and Query return normally and
    // only LastStatus shows the failure; the other operations fail silently.
    virtual void setReportErrors(bool on) = 0;
    virtual bool ReportErrors() const = 0;

    virtual void setSetting(int id, int value) = 0;

    // The resources the Lumetra resource manager knows; no value when it knows none.
    virtual std::optional<QStringList> ResourceList() = 0;

    virtual QString ResourceName() const = 0;
    virtual void setResourceName(const QString& name) = 0;

    virtual void Clear() = 0;
    virtual void Write(const QString& command) = 0;
    // The reply without its line terminator; empty after a failure.
    virtual QString Query(const QString& query) = 0;

    // Outcome of the last Write or Query: negative is a failure.
    virtual std::int32_t LastStatus() const = 0;
};

} // namespace quorix
