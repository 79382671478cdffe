#include "sim/raw_socket_server.h"

#include <unistd.h>

namespace sim {

namespace {

constexpr auto RebindRetry = std::chrono::milliseconds(100);

} // namespace

void RawSocketServer::bind(const std::vector<std::uint16_t>& ports) {
    for (std::uint16_t port : ports) {
        LoopbackListener listener;
        listener.bind(port, hub_.faults().refusing, "the raw socket");
        listeners_.push_back(std::move(listener));
    }
}

std::vector<std::uint16_t> RawSocketServer::ports() const {
    std::vector<std::uint16_t> result;
    for (const LoopbackListener& listener : listeners_) {
        result.push_back(listener.port());
    }
    return result;
}

void RawSocketServer::applyFaults() {
    for (LoopbackListener& listener : listeners_) {
        listener.setRefusing(hub_.faults().refusing);
    }
    for (LineConnection& c : connections_) {
        c.applyCloseAfter(hub_.faults().closeAfter);
    }
}

void RawSocketServer::prepare(PollSet& poll) {
    listenerIndex_.clear();
    for (const LoopbackListener& listener : listeners_) {
        listenerIndex_.push_back(poll.add(listener.listeningFd(), POLLIN));
    }
    for (LineConnection& c : connections_) {
        c.pollIndex = poll.add(c.fd, c.pollEvents());
    }
}

void RawSocketServer::handle(const PollSet& poll, SimClock::time_point now) {
    for (LineConnection& c : connections_) {
        const short events = poll.revents(c.pollIndex);
        c.pollIndex = -1;
        if ((events & ReadableOrGone) != 0) {
            c.receive(hub_, now);
        }
        if ((events & POLLOUT) != 0) {
            c.blocked = false;
        }
    }
    for (std::size_t s = 0; s < listeners_.size() && s < listenerIndex_.size(); ++s) {
        if ((poll.revents(listenerIndex_[s]) & POLLIN) != 0) {
            acceptPending(listeners_[s].listeningFd(), [&](int fd) {
                LineConnection connection;
                connection.fd = fd;
                connection.slot = s;
                connection.link = "raw:" + std::to_string(++accepted_);
                hub_.logEvent(s, connection.link, "connected");
                connections_.push_back(std::move(connection));
            });
        }
    }
    const int chunk = hub_.faults().splitChunk;
    for (LineConnection& c : connections_) {
        if (!c.blocked) {
            c.flush(chunk, now);
        }
    }
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->dead || (it->closing && it->output.empty())) {
            hub_.logEvent(it->slot, it->link,
                          it->dead ? "disconnected" : "closed after its last message");
            ::close(it->fd);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void RawSocketServer::nextWake(std::optional<SimClock::time_point>& next,
                               SimClock::time_point now) const {
    const int chunk = hub_.faults().splitChunk;
    for (const LineConnection& c : connections_) {
        if (const auto at = c.nextDue(chunk)) {
            wakeAt(next, *at);
        }
        if (c.closing && c.output.empty()) {
            wakeAt(next, now); // to close it
        }
    }
    for (const LoopbackListener& listener : listeners_) {
        if (listener.needsRetry(hub_.faults().refusing)) {
            wakeAt(next, now + RebindRetry);
        }
    }
}

void RawSocketServer::shutdown() {
    for (LineConnection& c : connections_) {
        ::close(c.fd);
    }
    connections_.clear();
    for (LoopbackListener& listener : listeners_) {
        listener.close();
    }
}

} // namespace sim
