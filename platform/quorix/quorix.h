#pragma once

#include <chrono>
#include <memory>
#include <ostream>
#include <vector>

#include "platform/lumetra/resource_manager.h"
#include "platform/lumetra/session.h"
#include "platform/quorix/quorix_control.h"

namespace quorix {

// The control on top of Lumetra: one session at a time, for the current ResourceName.
class Quorix final : public QuorixControl {
public:
    explicit Quorix(lumetra::ResourceManager resources = lumetra::ResourceManager(),
                    lumetra::TransportFactory transports = lumetra::makeTransport,
                    std::ostream* trace = nullptr);
    ~Quorix() override;

    void setReportErrors(bool on) override { reportErrors_ = on; }
    bool ReportErrors() const override { return reportErrors_; }
    void setSetting(int id, int value) override;
    std::optional<QStringList> ResourceList() override;
    QString ResourceName() const override { return resourceName_; }
    void setResourceName(const QString& name) override;
    void Clear() override;
    void Write(const QString& command) override;
    QString Query(const QString& query) override;
    std::int32_t LastStatus() const override { return lastStatus_; }

    std::chrono::milliseconds timeout() const { return timeout_; }
    bool traceEnabled() const { return traceEnabled_; }

private:
    void fail(std::int32_t status, const QString& text);
    void traceLine(const char* what, const QString& text);
    lumetra::Session& session();

    lumetra::ResourceManager resources_;
    lumetra::TransportFactory transports_;
    std::ostream* traceStream_;
    std::unique_ptr<lumetra::Session> session_;
    QString resourceName_;
    std::chrono::milliseconds timeout_{2000};
    std::int32_t lastStatus_ = 0;
    bool reportErrors_ = true;
    bool traceEnabled_ = false;
};

} // namespace quorix
