#pragma once

#include "sim/poll_set.h"
#include "sim/rpc_codec.h"
#include "sim/rpc_connection.h"

#include <cstdint>
#include <deque>
#include <string>

namespace sim {

// A small portmapper over TCP and UDP that knows one program: the VXI-11 core channel. It
// listens on every address, so it is meant for a test's own network namespace.
class PortmapperServer {
public:
    PortmapperServer() = default;
    ~PortmapperServer() { shutdown(); }
    PortmapperServer(const PortmapperServer&) = delete;
    PortmapperServer& operator=(const PortmapperServer&) = delete;

    // Throws std::runtime_error when the port cannot be had.
    void bind(std::uint16_t port, std::uint16_t vxi11Port);

    void prepare(PollSet& poll);
    void handle(const PollSet& poll);
    void shutdown();

    // The reply to one call.
    std::string answer(const rpc::Call& call, const std::string& record) const;

private:
    void answerDatagrams();

    std::uint16_t vxi11Port_ = 0;
    int tcpFd_ = -1;
    int udpFd_ = -1;
    std::ptrdiff_t tcpIndex_ = -1;
    std::ptrdiff_t udpIndex_ = -1;
    RpcConnections connections_;
};

} // namespace sim
