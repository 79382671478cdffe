#include "platform/lumetra/socket_transport.h"

#include "platform/lumetra/net_util.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace lumetra {

namespace {

// A reply that grows past this without a terminator is not an instrument reply.
constexpr std::size_t MaxMessageBytes = std::size_t(256) << 20;

using net::errnoText;

std::string unbracketed(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        return host.substr(1, host.size() - 2);
    }
    return host;
}

} // namespace

std::size_t scpiMessageLength(std::string_view bytes, std::size_t* afterLastBlock) {
    char quote = 0;
    if (afterLastBlock) {
        *afterLastBlock = 0;
    }
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const char c = bytes[i];
        if (c == '\n') {
            return i + 1;
        }
        if (quote) {
            if (c == quote) {
                quote = 0;
            }
            ++i;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            ++i;
            continue;
        }
        if (c == '#') {
            if (i + 1 >= n) {
                return 0; // cannot tell yet whether a block starts here
            }
            const char digitCount = bytes[i + 1];
            if (digitCount >= '1' && digitCount <= '9') {
                const std::size_t count = static_cast<std::size_t>(digitCount - '0');
                if (i + 2 + count > n) {
                    return 0;
                }
                std::size_t length = 0;
                bool digits = true;
                for (std::size_t k = 0; k < count; ++k) {
                    const char d = bytes[i + 2 + k];
                    if (d < '0' || d > '9') {
                        digits = false;
                        break;
                    }
                    length = length * 10 + static_cast<std::size_t>(d - '0');
                }
                if (digits) {
                    const std::size_t end = i + 2 + count + length;
                    if (end > n) {
                        return 0;
                    }
                    i = end;
                    if (afterLastBlock) {
                        *afterLastBlock = end;
                    }
                    continue;
                }
            }
        }
        ++i;
    }
    return 0;
}

SocketTransport::SocketTransport(std::string host, std::uint16_t port)
    : host_(unbracketed(host)), port_(port) {}

SocketTransport::~SocketTransport() {
    close();
}

std::string SocketTransport::endpoint() const {
    return net::endpoint(host_, port_);
}

void SocketTransport::open(Deadline deadline) {
    close();
    // From here on the socket blocks: a read waits in one receive call bounded by SO_RCVTIMEO,
    // and sends say MSG_DONTWAIT themselves.
    fd_ = net::connectTcp(host_, port_, deadline);
    receiveTimeoutUs_ = -1;
    pending_.clear();
}

void SocketTransport::close() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    pending_.clear();
}

void SocketTransport::lose(const std::string& what, int error) {
    close();
    throw Error(status::ErrorConnectionLost, what + " (" + endpoint() + ")" + errnoText(error));
}

bool SocketTransport::waitFor(short events, Deadline deadline) {
    const int seen = net::pollUntil(fd_, events, deadline);
    if (seen < 0) {
        lose("waiting on the link failed", errno);
    }
    return seen > 0;
}

void SocketTransport::write(std::string_view message, Deadline deadline) {
    if (fd_ < 0) {
        throw Error(status::ErrorInvalidObject, "the link to " + endpoint() + " is not open");
    }
    std::size_t sent = 0;
    while (sent < message.size()) {
        ssize_t n =
            ::send(fd_, message.data() + sent, message.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        int error = errno;
        if (n < 0 && error == EINTR) {
            continue;
        }
        if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
            if (!waitFor(POLLOUT, deadline)) {
                // Half a message on the wire would corrupt the next one: drop the link.
                if (sent > 0) {
                    close();
                }
                throw Error(status::ErrorTimeout, "timeout while sending to " + endpoint());
            }
            continue;
        }
        lose("sending failed", error);
    }
}

std::string SocketTransport::read(Deadline deadline) {
    if (fd_ < 0) {
        throw Error(status::ErrorInvalidObject, "the link to " + endpoint() + " is not open");
    }
    for (;;) {
        std::size_t afterLastBlock = 0;
        if (std::size_t length = scpiMessageLength(pending_, &afterLastBlock)) {
            std::size_t end = length - 1;
            // A carriage return before the line feed is a terminator too, unless it is the
            // last byte of a block.
            if (end > afterLastBlock && pending_[end - 1] == '\r') {
                --end;
            }
            std::string message = pending_.substr(0, end);
            pending_.erase(0, length);
            return message;
        }
        if (pending_.size() > MaxMessageBytes) {
            close();
            throw Error(status::ErrorIo, "reply from " + endpoint() + " exceeds the size limit");
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            throw Error(status::ErrorTimeout,
                        "timeout while waiting for a reply from " + endpoint());
        }
        boundNextReceive(left);
        char buffer[65536];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            pending_.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            lose("the instrument closed the connection", 0);
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            lose("receiving failed", errno);
        }
    }
}

void SocketTransport::boundNextReceive(long long leftUs) {
    // The receive must end by the deadline. Setting SO_RCVTIMEO costs a system call, so the
    // last value is kept while it still ends inside the deadline and at most 2 ms before it;
    // a receive that ends early just goes round the read loop once more.
    constexpr long long SlackUs = 2000;
    if (receiveTimeoutUs_ > 0 && receiveTimeoutUs_ <= leftUs &&
        leftUs - receiveTimeoutUs_ < SlackUs) {
        return;
    }
    const long long bound = leftUs > SlackUs ? (leftUs / 1000) * 1000 - 1000 : leftUs;
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(bound / 1'000'000);
    tv.tv_usec = static_cast<suseconds_t>(bound % 1'000'000);
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    receiveTimeoutUs_ = bound;
}

void SocketTransport::deviceClear(Deadline) {
    pending_.clear();
    if (fd_ < 0) {
        return;
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            continue;
        }
        if (n == 0) {
            close(); // nothing left to clear; the next operation connects again
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return;
        }
        close();
        return;
    }
}

bool SocketTransport::peerHasClosed() {
    return net::peerHasClosed(fd_);
}

} // namespace lumetra
