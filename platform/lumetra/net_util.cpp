#include "platform/lumetra/net_util.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace lumetra::net {

namespace {

struct Resolved {
    std::vector<sockaddr_storage> addresses;
    std::vector<socklen_t> lengths;
    int error = 0;
};

Resolved resolveNow(const std::string& host, std::uint16_t port, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    Resolved result;
    std::string service = std::to_string(port);
    result.error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    for (addrinfo* it = list; it; it = it->ai_next) {
        sockaddr_storage address{};
        std::memcpy(&address, it->ai_addr, it->ai_addrlen);
        result.addresses.push_back(address);
        result.lengths.push_back(static_cast<socklen_t>(it->ai_addrlen));
    }
    if (list) {
        ::freeaddrinfo(list);
    }
    return result;
}

// Name look-up can block for as long as the resolver likes, so a name that is not a numeric
// address is resolved on a helper thread and waited for only until the deadline.
Resolved resolve(const std::string& host, std::uint16_t port, Deadline deadline) {
    Resolved numeric = resolveNow(host, port, AI_NUMERICHOST | AI_NUMERICSERV);
    if (numeric.error == 0) {
        return numeric;
    }
    auto task = std::make_shared<std::packaged_task<Resolved()>>(
        [host, port] { return resolveNow(host, port, AI_NUMERICSERV); });
    auto result = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (result.wait_until(deadline) != std::future_status::ready) {
        throw Error(status::ErrorTimeout, "timeout while looking up host " + host);
    }
    return result.get();
}

} // namespace

int remainingMilliseconds(Deadline deadline) {
    auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    // Round up so that a wait never ends just short of the deadline and spins.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(ms);
}

int pollUntil(int fd, short events, Deadline deadline) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int ready = ::poll(&p, 1, remainingMilliseconds(deadline));
        if (ready > 0) {
            return p.revents;
        }
        if (ready == 0) {
            if (Clock::now() >= deadline) {
                return 0;
            }
            continue;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

int writeAll(int fd, Descriptor kind, std::string_view bytes, IoDeadline& deadline,
             std::size_t& sent) {
    sent = 0;
    while (sent < bytes.size()) {
        const char* from = bytes.data() + sent;
        const std::size_t left = bytes.size() - sent;
        const ssize_t n = kind == Descriptor::Socket
                              ? ::send(fd, from, left, MSG_NOSIGNAL | MSG_DONTWAIT)
                              : ::write(fd, from, left);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            deadline.progress();
            continue;
        }
        const int error = n < 0 ? errno : EIO;
        if (error == EINTR) {
            continue;
        }
        if (error != EAGAIN && error != EWOULDBLOCK) {
            return error;
        }
        const int seen = pollUntil(fd, POLLOUT, deadline.due());
        if (seen == 0) {
            return ETIMEDOUT;
        }
        if (seen < 0) {
            return errno;
        }
        if ((seen & POLLOUT) == 0) {
            return EPIPE;
        }
    }
    return 0;
}

std::string errnoText(int error) {
    return error ? std::string(": ") + std::strerror(error) : "";
}

std::string endpoint(const std::string& host, std::uint16_t port) {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
}

int connectTcp(const std::string& host, std::uint16_t port, Deadline deadline) {
    Resolved resolved = resolve(host, port, deadline);
    if (resolved.error != 0 || resolved.addresses.empty()) {
        throw Error(status::ErrorResourceNotFound,
                    "cannot resolve host " + host + ": " + ::gai_strerror(resolved.error));
    }
    Status lastCode = status::ErrorMachineNotAvailable;
    std::string lastText;
    for (std::size_t k = 0; k < resolved.addresses.size(); ++k) {
        const auto* address = reinterpret_cast<const sockaddr*>(&resolved.addresses[k]);
        int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            lastCode = status::ErrorSystem;
            lastText = "cannot create a socket" + errnoText(errno);
            continue;
        }
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        int rc = ::connect(fd, address, resolved.lengths[k]);
        int error = rc == 0 ? 0 : errno;
        if (error == EINPROGRESS || error == EINTR) {
            if (pollUntil(fd, POLLOUT, deadline) <= 0) {
                ::close(fd);
                throw Error(status::ErrorTimeout,
                            "timeout while connecting to " + endpoint(host, port));
            }
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                error = errno;
            }
        }
        if (error == 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        ::close(fd);
        lastCode = (error == ECONNREFUSED || error == EHOSTUNREACH || error == ENETUNREACH ||
                    error == EHOSTDOWN)
                       ? status::ErrorMachineNotAvailable
                       : status::ErrorIo;
        lastText = "cannot connect to " + endpoint(host, port) + errnoText(error);
    }
    throw Error(lastCode, lastText);
}

bool peerHasClosed(int fd) {
    if (fd < 0) {
        return false;
    }
    char byte;
    for (;;) {
        ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno != EAGAIN && errno != EWOULDBLOCK;
    }
}

void boundBlockingCalls(int fd, Deadline deadline) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    // Zero would mean "wait for ever".
    const long long us = std::max<long long>(left.count(), 1);
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(us / 1'000'000);
    tv.tv_usec = static_cast<suseconds_t>(us % 1'000'000);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool ReceiveBound::apply(int fd, Deadline deadline) {
    const long long leftUs =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (leftUs <= 0) {
        return false;
    }
    constexpr long long SlackUs = 2000;
    if (boundUs_ > 0 && boundUs_ <= leftUs && leftUs - boundUs_ < SlackUs) {
        return true;
    }
    const long long bound = leftUs > SlackUs ? (leftUs / 1000) * 1000 - 1000 : leftUs;
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(bound / 1'000'000);
    tv.tv_usec = static_cast<suseconds_t>(bound % 1'000'000);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    boundUs_ = bound;
    return true;
}

} // namespace lumetra::net
