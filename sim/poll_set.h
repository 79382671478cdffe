#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <poll.h>
#include <vector>

namespace sim {

// The descriptors of one pass of the serving loop. Each server adds its own and keeps the
// index it got, to read back what happened to them.
class PollSet {
public:
    void clear() { fds_.clear(); }
    std::ptrdiff_t add(int fd, short events) {
        fds_.push_back({fd, events, 0});
        return static_cast<std::ptrdiff_t>(fds_.size()) - 1;
    }
    // What happened to the descriptor at `index`; nothing for an index of -1 (added later).
    short revents(std::ptrdiff_t index) const {
        return index < 0 ? 0 : fds_[static_cast<std::size_t>(index)].revents;
    }
    pollfd* data() { return fds_.data(); }
    std::size_t size() const { return fds_.size(); }

private:
    std::vector<pollfd> fds_;
};

// Keeps the earliest of the times the servers want to be woken at.
template <typename TimePoint> void wakeAt(std::optional<TimePoint>& next, TimePoint at) {
    if (!next || at < *next) {
        next = at;
    }
}

inline constexpr short ReadableOrGone = POLLIN | POLLHUP | POLLERR;

} // namespace sim
