#include "platform/lumetra/socket_transport.h"

#include "platform/lumetra/net_util.h"

#include <cerrno>
#include <cstring>
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
    receiveBound_.forget();
    pending_.clear();
    scanner_.reset();
}

void SocketTransport::close() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    pending_.clear();
    scanner_.reset();
}

void SocketTransport::lose(const std::string& what, int error) {
    close();
    throw Error(status::ErrorConnectionLost, what + " (" + endpoint() + ")" + errnoText(error));
}

void SocketTransport::write(std::string_view message, IoDeadline deadline) {
    if (fd_ < 0) {
        throw Error(status::ErrorInvalidObject, "the link to " + endpoint() + " is not open");
    }
    std::size_t sent = 0;
    const int error = net::writeAll(fd_, net::Descriptor::Socket, message, deadline, sent);
    if (error == ETIMEDOUT) {
        // Half a message on the wire would corrupt the next one: drop the link.
        if (sent > 0) {
            close();
        }
        throw Error(status::ErrorTimeout, "timeout while sending to " + endpoint());
    }
    if (error != 0) {
        lose("sending failed", error);
    }
}

std::string SocketTransport::read(IoDeadline deadline) {
    if (fd_ < 0) {
        throw Error(status::ErrorInvalidObject, "the link to " + endpoint() + " is not open");
    }
    std::string reply;
    for (;;) {
        if (scanner_.take(pending_, reply)) {
            return reply;
        }
        if (pending_.size() > MaxMessageBytes) {
            close();
            throw Error(status::ErrorIo, "reply from " + endpoint() + " exceeds the size limit");
        }
        if (!receiveBound_.apply(fd_, deadline.due())) {
            throw Error(status::ErrorTimeout,
                        "timeout while waiting for a reply from " + endpoint());
        }
        char buffer[65536];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            pending_.append(buffer, static_cast<std::size_t>(n));
            deadline.progress();
        } else if (n == 0) {
            lose("the instrument closed the connection", 0);
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            lose("receiving failed", errno);
        }
    }
}

void SocketTransport::deviceClear(Deadline) {
    dropUnread(true);
}

std::size_t SocketTransport::dropUnread(bool askLink) {
    std::size_t dropped = pending_.size();
    pending_.clear();
    scanner_.reset();
    if (!askLink) {
        return dropped;
    }
    char buffer[65536];
    while (fd_ >= 0) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            dropped += static_cast<std::size_t>(n);
        } else if (n == 0) {
            close(); // the peer is gone; the next operation connects again
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else if (errno != EINTR) {
            close();
        }
    }
    return dropped;
}

bool SocketTransport::peerHasClosed() {
    return net::peerHasClosed(fd_);
}

} // namespace lumetra
