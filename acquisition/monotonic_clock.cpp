#include "acquisition/monotonic_clock.h"

namespace acquisition {

std::chrono::nanoseconds SteadyClock::now() const {
    return std::chrono::steady_clock::now().time_since_epoch();
}

} // namespace acquisition
