#pragma once

#include "sim/instrument.h"
#include "sim/poll_set.h"
#include "sim/rpc_connection.h"
#include "sim/socket_setup.h"

#include <cstdint>
#include <deque>
#include <optional>

namespace sim {

class Vxi11CoreServer;

// The VXI-11 abort channel on 127.0.0.1: device_abort ends the call a link has in progress on
// the core channel.
class Vxi11AbortServer {
public:
    explicit Vxi11AbortServer(Vxi11CoreServer& core) : core_(core) {}

    // Throws std::runtime_error when no port can be had; the port is a free one.
    void bind(bool refusing);
    std::uint16_t port() const { return listener_.port(); }

    void applyFaults(bool refusing);
    void prepare(PollSet& poll);
    void handle(const PollSet& poll, SimClock::time_point now);
    void nextWake(std::optional<SimClock::time_point>& next, SimClock::time_point now,
                  bool refusing) const;
    void shutdown();

private:
    Vxi11CoreServer& core_;
    LoopbackListener listener_;
    std::ptrdiff_t listenerIndex_ = -1;
    RpcConnections connections_;
};

} // namespace sim
