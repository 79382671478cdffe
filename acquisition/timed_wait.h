#pragma once

#include "acquisition/monotonic_clock.h"

#include <chrono>
#include <functional>

namespace acquisition {

// The interval between two passes of a wait when nothing else wakes it: short enough for the
// dots of a long wait to run visibly, long enough to leave the processor idle.
inline constexpr std::chrono::milliseconds DefaultPassInterval{40};

// Processes pending events, then waits at most `maxWait` for more and processes those.
using ProcessEventsFor = std::function<void(std::chrono::milliseconds maxWait)>;

// waitSeconds: keeps the window live for the full length of the wait. Every pass adds a
// progress dot (only for waits longer than one second) and processes events; a pass ends early
// when an event arrives, but the wait as a whole never does.
class TimedWait {
public:
    TimedWait(const MonotonicClock& clock, std::function<void()> addProgressDot,
              ProcessEventsFor processEvents,
              std::chrono::milliseconds passInterval = DefaultPassInterval);

    void waitSeconds(double seconds) const;

private:
    const MonotonicClock& clock_;
    std::function<void()> addProgressDot_;
    ProcessEventsFor processEvents_;
    std::chrono::milliseconds passInterval_;
};

} // namespace acquisition
