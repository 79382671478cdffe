#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>

namespace sim {

// A socket of `type` bound to `address`:port, and with `boundPort` the port it got; -1 with
// errno set when it cannot be bound.
int bindSocket(int type, in_addr_t address, std::uint16_t port, std::uint16_t* boundPort = nullptr);

// A socket of `type` bound to port on every address (the portmapper), listening if it is TCP.
int bindAnyAddress(int type, std::uint16_t port);

// Takes every connection waiting on a listening socket, non-blocking and without Nagle's delay.
template <typename OnAccepted> void acceptPending(int listenFd, OnAccepted&& onAccepted) {
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        onAccepted(fd);
    }
}

// A TCP port on 127.0.0.1 that stays ours: listening, or while refusing bound but not
// listening, so that connects to it are refused.
class LoopbackListener {
public:
    LoopbackListener() = default;
    ~LoopbackListener() { close(); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
    LoopbackListener(LoopbackListener&& other) noexcept;
    LoopbackListener& operator=(LoopbackListener&& other) noexcept;

    // Binds (port 0 picks a free one) and listens unless refusing; throws std::runtime_error
    // naming `what` when it cannot.
    void bind(std::uint16_t port, bool refusing, const std::string& what);
    // Stops or starts listening. When the port cannot be had again at once, needsRetry() says
    // so and the next call tries again.
    void setRefusing(bool refusing);
    bool needsRetry(bool refusing) const { return fd_ < 0 || (!refusing && !listening_); }
    // The descriptor to poll for connections, -1 while not listening.
    int listeningFd() const { return listening_ ? fd_ : -1; }
    std::uint16_t port() const { return port_; }
    bool isBound() const { return port_ != 0; }
    void close();

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
    bool listening_ = false;
};

} // namespace sim
