#include "sim/line_connection.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr std::size_t MaxPendingInput = 4 * 1024 * 1024;
constexpr auto ChunkGap = std::chrono::milliseconds(1);

} // namespace

short LineConnection::pollEvents() const {
    return static_cast<short>(POLLIN | (blocked ? POLLOUT : 0));
}

void LineConnection::receive(InstrumentHub& hub, SimClock::time_point now) {
    char buffer[65536];
    for (int round = 0; round < 16; ++round) {
        const ssize_t n =
            tty ? ::read(fd, buffer, sizeof buffer) : ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 && !tty) {
            dead = true;
            return;
        }
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && !tty) {
                dead = true;
            }
            break;
        }
        if (!closing) {
            input.append(buffer, static_cast<std::size_t>(n));
        }
        if (static_cast<std::size_t>(n) < sizeof buffer) {
            break;
        }
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = input.find('\n', start);
        if (end == std::string::npos || closing) {
            break;
        }
        std::string_view message(input.data() + start, end - start);
        if (!message.empty() && message.back() == '\r') {
            message.remove_suffix(1);
        }
        // A message dropped while muted does not count towards the close-after switch.
        if (auto out = hub.runMessage(slot, link, message, now)) {
            output.push_back(std::move(*out));
        }
        if (!hub.muted()) {
            ++messages;
            if (!tty) {
                applyCloseAfter(hub.faults().closeAfter);
            }
        }
        start = end + 1;
    }
    if (closing) {
        input.clear();
    } else {
        input.erase(0, start);
        if (input.size() > MaxPendingInput) {
            dead = true;
        }
    }
}

void LineConnection::applyCloseAfter(int limit) {
    if (limit > 0 && messages >= limit) {
        closing = true;
    }
}

void LineConnection::flush(int chunk, SimClock::time_point now) {
    while (!output.empty() && !dead) {
        Outgoing& out = output.front();
        if (now < out.due || (chunk > 0 && now < nextChunkAt)) {
            return;
        }
        std::size_t length = out.bytes.size() - out.sent;
        if (chunk > 0) {
            length = std::min(length, static_cast<std::size_t>(chunk));
        }
        const ssize_t n = tty ? ::write(fd, out.bytes.data() + out.sent, length)
                              : ::send(fd, out.bytes.data() + out.sent, length, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                blocked = true;
            } else {
                dead = true;
            }
            return;
        }
        blocked = false;
        out.sent += static_cast<std::size_t>(n);
        if (out.sent == out.bytes.size()) {
            output.pop_front();
        }
        if (chunk > 0) {
            nextChunkAt = SimClock::now() + ChunkGap;
            return;
        }
    }
}

std::optional<SimClock::time_point> LineConnection::nextDue(int chunk) const {
    if (output.empty() || blocked) {
        return std::nullopt;
    }
    SimClock::time_point at = output.front().due;
    if (chunk > 0) {
        at = std::max(at, nextChunkAt);
    }
    return at;
}

} // namespace sim
