#pragma once

#include "sim/fault_switches.h"
#include "sim/instrument.h"
#include "sim/traffic_log.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// A reply on its way out: due at a time, sent in parts.
struct Outgoing {
    SimClock::time_point due;
    std::string bytes;
    std::size_t sent = 0;
};

// The instruments as every server reaches them: each with its traffic log, all behind the fault
// switches that change what they answer.
class InstrumentHub {
public:
    explicit InstrumentHub(FaultSwitches& faults) : faults_(faults) {}

    void add(std::unique_ptr<Instrument> instrument, TrafficLog log);
    std::size_t size() const { return slots_.size(); }
    Instrument& instrument(std::size_t slot) { return *slots_.at(slot).instrument; }
    const FaultSwitches& faults() const { return faults_; }
    // Whether messages are dropped, as taken in at the start of this pass of the serving loop.
    bool muted() const { return muted_; }

    // Runs one message (without its terminator) that came over `link` on an instrument. While
    // muted it is logged as dropped and nothing else happens; otherwise it is logged with its
    // reply, and the reply, if any, comes back as it is to be sent.
    std::optional<Outgoing> runMessage(std::size_t slot, std::string_view link,
                                       std::string_view message, SimClock::time_point now);
    void logEvent(std::size_t slot, std::string_view link, std::string_view text);

    // The status byte as *STB? gives it, with the message-available bit set when a reply is
    // waiting to be read (and the summary bit following it, as the service request enable
    // register says).
    int statusByte(std::size_t slot, SimClock::time_point now, bool messageAvailable);

    // Takes in a change of the fault switches.
    void applyFaults();

private:
    Outgoing replyFor(const std::string& reply, SimClock::time_point now);

    struct Slot {
        std::unique_ptr<Instrument> instrument;
        TrafficLog log;
    };
    FaultSwitches& faults_;
    std::vector<Slot> slots_;
    bool muted_ = false;
    unsigned seenMalformedEpoch_ = 0;
    long repliesSinceMalformedSet_ = 0;
    bool malformedSent_ = false;
};

} // namespace sim
