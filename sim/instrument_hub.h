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

    // Runs one message (without its terminator) on an instrument. Nothing happens while muted;
    // otherwise the message is logged and its reply, if any, comes back as it is to be sent.
    std::optional<Outgoing> runMessage(std::size_t slot, std::string_view message,
                                       SimClock::time_point now);

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
    unsigned seenMalformedEpoch_ = 0;
    long repliesSinceMalformedSet_ = 0;
    bool malformedSent_ = false;
};

} // namespace sim
