#include "sim/socket_setup.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace sim {

int bindSocket(int type, in_addr_t address, std::uint16_t port, std::uint16_t* boundPort) {
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    if (boundPort != nullptr) {
        socklen_t length = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
        *boundPort = ntohs(addr.sin_port);
    }
    return fd;
}

int bindAnyAddress(int type, std::uint16_t port) {
    const int fd = bindSocket(type, INADDR_ANY, port);
    if (fd >= 0 && type == SOCK_STREAM && ::listen(fd, SOMAXCONN) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

LoopbackListener::LoopbackListener(LoopbackListener&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), port_(std::exchange(other.port_, 0)),
      listening_(std::exchange(other.listening_, false)) {}

LoopbackListener& LoopbackListener::operator=(LoopbackListener&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        port_ = std::exchange(other.port_, 0);
        listening_ = std::exchange(other.listening_, false);
    }
    return *this;
}

void LoopbackListener::bind(std::uint16_t port, bool refusing, const std::string& what) {
    close();
    fd_ = bindSocket(SOCK_STREAM, INADDR_LOOPBACK, port, &port_);
    if (fd_ < 0) {
        throw std::runtime_error("scopesim: cannot serve " + what + " on 127.0.0.1:" +
                                 std::to_string(port) + ": " + std::strerror(errno));
    }
    if (!refusing) {
        if (::listen(fd_, SOMAXCONN) != 0) {
            throw std::runtime_error("scopesim: cannot listen for " + what + ": " +
                                     std::strerror(errno));
        }
        listening_ = true;
    }
}

void LoopbackListener::setRefusing(bool refusing) {
    if (port_ == 0) {
        return;
    }
    if (refusing && listening_) {
        // Closing drops the connections not taken yet; binding again keeps the port ours.
        ::close(fd_);
        fd_ = bindSocket(SOCK_STREAM, INADDR_LOOPBACK, port_);
        listening_ = false;
    } else if (refusing && fd_ < 0) {
        fd_ = bindSocket(SOCK_STREAM, INADDR_LOOPBACK, port_);
    } else if (!refusing && !listening_) {
        if (fd_ < 0) {
            fd_ = bindSocket(SOCK_STREAM, INADDR_LOOPBACK, port_);
        }
        if (fd_ >= 0 && ::listen(fd_, SOMAXCONN) == 0) {
            listening_ = true;
        }
    }
}

void LoopbackListener::close() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    listening_ = false;
}

} // namespace sim
