#pragma once

#include "sim/instrument_hub.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace sim {

// One byte stream of line-feed terminated messages to an instrument and replies back: a raw
// socket connection or the serial line.
struct LineConnection {
    int fd = -1;
    bool tty = false; // the simulator's end of its pseudo-terminal: never closed while serving
    std::size_t slot = 0;
    std::string link; // its name in the traffic log
    std::string input;
    std::deque<Outgoing> output;
    int messages = 0;
    bool closing = false; // closed once its output is sent
    bool dead = false;
    bool blocked = false; // the last send would have blocked: wait for POLLOUT
    SimClock::time_point nextChunkAt{};
    std::ptrdiff_t pollIndex = -1;

    short pollEvents() const;
    // Reads what arrived and runs every whole message.
    void receive(InstrumentHub& hub, SimClock::time_point now);
    // Sends what is due, in chunks when the split switch is on.
    void flush(int chunk, SimClock::time_point now);
    // When the next part of the output is due (nothing while none is waiting or it is blocked).
    std::optional<SimClock::time_point> nextDue(int chunk) const;
    // Closes once its messages reached the close-after switch.
    void applyCloseAfter(int limit);
};

} // namespace sim
