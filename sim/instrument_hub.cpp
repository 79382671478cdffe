#include "sim/instrument_hub.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace sim {

void InstrumentHub::add(std::unique_ptr<Instrument> instrument, TrafficLog log) {
    slots_.push_back(Slot{std::move(instrument), std::move(log)});
}

std::optional<Outgoing> InstrumentHub::runMessage(std::size_t slotIndex, std::string_view link,
                                                  std::string_view message,
                                                  SimClock::time_point now) {
    Slot& slot = slots_.at(slotIndex);
    if (muted_) {
        slot.log.dropped(link, message);
        return std::nullopt;
    }
    slot.log.received(link, message);
    slot.instrument->setTriggerNever(faults_.triggerNever);
    std::optional<std::string> reply;
    try {
        reply = slot.instrument->execute(message, now);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "scopesim: message failed: %s\n", error.what());
    }
    if (!reply) {
        return std::nullopt;
    }
    slot.log.replied(link, *reply);
    return replyFor(*reply, now);
}

void InstrumentHub::logEvent(std::size_t slot, std::string_view link, std::string_view text) {
    slots_.at(slot).log.event(link, text);
}

int InstrumentHub::statusByte(std::size_t slot, SimClock::time_point now, bool messageAvailable) {
    constexpr int MessageAvailable = 0x10;
    constexpr int MasterSummary = 0x40;
    const auto reply = slots_.at(slot).instrument->execute("*STB?;*SRE?", now);
    int stb = 0;
    int sre = 0;
    if (reply && std::sscanf(reply->c_str(), "%d;%d", &stb, &sre) != 2) {
        stb = 0;
    }
    if (messageAvailable) {
        stb |= MessageAvailable;
    }
    if ((stb & sre & ~MasterSummary) != 0) {
        stb |= MasterSummary;
    }
    return stb & 0xff;
}

Outgoing InstrumentHub::replyFor(const std::string& reply, SimClock::time_point now) {
    ++repliesSinceMalformedSet_;
    Outgoing out;
    out.due = now + std::chrono::milliseconds(faults_.replyDelayMs.load());
    const int nth = faults_.malformedNth;
    if (nth > 0 && !malformedSent_ && repliesSinceMalformedSet_ == nth) {
        malformedSent_ = true;
        // A definite-length block header that promises more bytes than ever come.
        char header[16];
        std::snprintf(header, sizeof header, "#9%09zu",
                      std::min<std::size_t>(reply.size() + 100, 999999999));
        out.bytes = header + reply + "\n";
    } else {
        out.bytes = reply + "\n";
    }
    return out;
}

void InstrumentHub::applyFaults() {
    muted_ = faults_.muted;
    const unsigned epoch = faults_.malformedEpoch;
    if (epoch != seenMalformedEpoch_) {
        seenMalformedEpoch_ = epoch;
        repliesSinceMalformedSet_ = 0;
        malformedSent_ = false;
    }
}

} // namespace sim
