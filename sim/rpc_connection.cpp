#include "sim/rpc_connection.h"

#include "sim/rpc_codec.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr std::size_t MaxPendingInput = 4 * 1024 * 1024 + 65536;

} // namespace

short RpcConnection::pollEvents() const {
    return static_cast<short>(POLLIN | (output.empty() ? 0 : POLLOUT));
}

void RpcConnection::receive() {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0) {
            dead = true;
            return;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                dead = true;
            }
            return;
        }
        input.append(buffer, static_cast<std::size_t>(n));
        if (input.size() > MaxPendingInput) {
            return;
        }
    }
}

bool RpcConnection::takeRecord(std::string& record) {
    if (dead) {
        return false;
    }
    bool bad = false;
    const bool taken = rpc::takeRecord(input, record, bad);
    if (bad) {
        dead = true;
    }
    return taken;
}

void RpcConnection::reply(const std::string& message) {
    output += rpc::frameRecord(message);
}

void RpcConnection::flush() {
    while (!output.empty() && !dead) {
        const ssize_t n = ::send(fd, output.data(), output.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                dead = true;
            }
            return;
        }
        output.erase(0, static_cast<std::size_t>(n));
    }
}

void RpcConnection::close() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void answerCalls(RpcConnections& connections, const PollSet& poll,
                 const std::function<std::string(const rpc::Call&, const std::string&)>& answer) {
    for (RpcConnection& c : connections) {
        if ((poll.revents(c.pollIndex) & ReadableOrGone) != 0) {
            c.receive();
        }
        c.pollIndex = -1;
        std::string record;
        while (c.takeRecord(record)) {
            std::string refusal;
            if (const auto call = rpc::parseCall(record, refusal)) {
                c.reply(answer(*call, record));
            } else if (!refusal.empty()) {
                c.reply(refusal);
            } else {
                c.dead = true;
            }
        }
    }
}

void flushAndDropEnded(RpcConnections& connections) {
    for (auto it = connections.begin(); it != connections.end();) {
        it->flush();
        if (it->dead) {
            it->close();
            it = connections.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace sim
