#pragma once

#include "sim/instrument_hub.h"
#include "sim/line_connection.h"
#include "sim/poll_set.h"
#include "sim/socket_setup.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace sim {

// Raw SCPI sockets on 127.0.0.1, one port per instrument: line-feed terminated messages in,
// replies out.
class RawSocketServer {
public:
    explicit RawSocketServer(InstrumentHub& hub) : hub_(hub) {}

    // One port per instrument, in the hub's order (0 picks a free one).
    void bind(const std::vector<std::uint16_t>& ports);
    std::vector<std::uint16_t> ports() const;

    void applyFaults();
    void prepare(PollSet& poll);
    void handle(const PollSet& poll, SimClock::time_point now);
    void nextWake(std::optional<SimClock::time_point>& next, SimClock::time_point now) const;
    void shutdown();

private:
    InstrumentHub& hub_;
    std::vector<LoopbackListener> listeners_; // one per instrument
    std::vector<std::ptrdiff_t> listenerIndex_;
    std::deque<LineConnection> connections_;
    long accepted_ = 0;
};

} // namespace sim
