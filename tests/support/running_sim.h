#pragma once

#include "sim/scope_server.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace testing {

// A simulated instrument serving on loopback for the length of a test, with its drive folder
// and traffic log in a temporary directory.
class RunningSim {
public:
    explicit RunningSim(sim::SimConfig config = {});
    ~RunningSim();

    sim::ScopeServer& server() { return *server_; }
    std::uint16_t port(int instrument = 0) const { return ports_.at(instrument); }
    QString resource(int instrument = 0) const;
    // With config.vxi11Port >= 0: the VXI-11 port and a resource for it. The port is named in
    // the resource's settings (vxi11Attributes), as no portmapper runs on this machine.
    std::uint16_t vxi11Port() const { return vxi11Port_; }
    QString vxi11Resource(int instrument = 0) const;
    QString vxi11Attributes() const;
    QString root() const { return root_.path(); }
    QString logPath(int instrument = 0) const;
    // Every message the instrument took so far, in order (not those dropped while muted).
    QStringList traffic(int instrument = 0) const;

    // Stops serving; restart() serves again on the same ports, with fresh instrument state.
    void stop();
    void restart();

private:
    QTemporaryDir root_;
    sim::SimConfig config_;
    std::unique_ptr<sim::ScopeServer> server_;
    std::vector<std::uint16_t> ports_;
    std::uint16_t vxi11Port_ = 0;
};

// A resources.conf in a temporary directory.
class ResourcesFile {
public:
    explicit ResourcesFile(const QStringList& lines = {});
    QString path() const;
    std::vector<std::string> files() const { return {path().toStdString()}; }

private:
    QTemporaryDir dir_;
};

} // namespace testing
