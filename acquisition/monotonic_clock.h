#pragma once

#include <chrono>

namespace acquisition {

// The only time source of the timed waits. It never goes back and does not follow changes of
// the time of day, so a wait neither knows nor cares about midnight or clock adjustments.
class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    // Time since an arbitrary fixed origin.
    virtual std::chrono::nanoseconds now() const = 0;
};

class SteadyClock final : public MonotonicClock {
public:
    std::chrono::nanoseconds now() const override;
};

} // namespace acquisition
