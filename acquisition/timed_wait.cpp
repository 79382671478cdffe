#include "acquisition/timed_wait.h"

#include <algorithm>

namespace acquisition {

TimedWait::TimedWait(const MonotonicClock& clock, std::function<void()> addProgressDot,
                     ProcessEventsFor processEvents, std::chrono::milliseconds passInterval)
    : clock_(clock), addProgressDot_(std::move(addProgressDot)),
      processEvents_(std::move(processEvents)), passInterval_(passInterval) {}

void TimedWait::waitSeconds(double seconds) const {
    using namespace std::chrono;
    if (!(seconds > 0)) {
        return;
    }
    const bool showDots = seconds > 1;
    // Far beyond any wait the program asks for, and safely inside the range of nanoseconds.
    constexpr double LongestWait = 1e9;
    const auto length =
        duration_cast<nanoseconds>(duration<double>(std::min(seconds, LongestWait)));
    const nanoseconds end = clock_.now() + length;
    for (nanoseconds now = clock_.now(); now <= end; now = clock_.now()) {
        if (showDots) {
            addProgressDot_();
        }
        // Sleep past the end, not up to it, so the last pass is the one that crosses it.
        const auto remaining = ceil<milliseconds>(end - now) + milliseconds(1);
        processEvents_(std::min(remaining, passInterval_));
    }
}

} // namespace acquisition
