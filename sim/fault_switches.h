#pragma once

#include <atomic>

namespace sim {

// The fault switches, written from any thread and read by the serving one.
struct FaultSwitches {
    std::atomic<bool> muted{false};
    std::atomic<bool> refusing{false};
    std::atomic<bool> triggerNever{false};
    std::atomic<long long> replyDelayMs{0};
    std::atomic<int> closeAfter{0};
    std::atomic<int> malformedNth{0};
    std::atomic<int> splitChunk{0};
    // Counts the settings of malformedNth, so that the count of replies starts again with each.
    std::atomic<unsigned> malformedEpoch{0};
};

} // namespace sim
