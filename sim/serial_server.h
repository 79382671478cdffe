#pragma once

#include "sim/instrument_hub.h"
#include "sim/line_connection.h"
#include "sim/poll_set.h"

#include <optional>
#include <string>

namespace sim {

// The first instrument on a pseudo-terminal: a serial line at any baud rate, line feed
// terminated. The line has no connection to lose, so clients may open and close it at will.
class SerialServer {
public:
    explicit SerialServer(InstrumentHub& hub) : hub_(hub) {}
    ~SerialServer() { shutdown(); }
    SerialServer(const SerialServer&) = delete;
    SerialServer& operator=(const SerialServer&) = delete;

    // Makes the pseudo-terminal (throws std::runtime_error); its path is what clients open.
    void open();
    const std::string& path() const { return path_; }

    void prepare(PollSet& poll);
    void handle(const PollSet& poll, SimClock::time_point now);
    void nextWake(std::optional<SimClock::time_point>& next) const;
    void shutdown();

private:
    InstrumentHub& hub_;
    LineConnection line_;
    int keepOpen_ = -1; // our own handle on the terminal side, so clients may come and go
    std::string path_;
};

} // namespace sim
