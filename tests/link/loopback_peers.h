#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace testing {

inline int listenOnLoopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 8);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

inline int connectToLoopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

// Ends a connection with a reset rather than an orderly close.
inline void resetConnection(int fd) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

inline bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// One line from `fd` without its line feed; empty at the end of the stream.
inline std::string readLine(int fd) {
    std::string line;
    char c = 0;
    while (::recv(fd, &c, 1, 0) == 1 && c != '\n') {
        line += c;
    }
    return line;
}

// A loopback peer that accepts one connection and plays `script` on it, on its own thread.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::function<void(int fd)> script) {
        listener_ = listenOnLoopback(port_);
        thread_ = std::thread([this, script = std::move(script)] {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                script(fd);
                ::close(fd);
            }
        });
    }
    ~ScriptedPeer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::uint16_t port() const { return port_; }

private:
    std::uint16_t port_ = 0;
    int listener_ = -1;
    std::thread thread_;
};

// Relays loopback connections to `target`, and resets the client's side on request: at once
// (resetNow) or when the client next sends something (resetOnNextMessage); or closes it in
// order then (closeOnNextMessage).
class ResettingProxy {
public:
    explicit ResettingProxy(std::uint16_t target) : target_(target) {
        listener_ = listenOnLoopback(port_);
        thread_ = std::thread([this] { serve(); });
    }
    ~ResettingProxy() {
        stopping_ = true;
        thread_.join();
        ::close(listener_);
    }
    std::uint16_t port() const { return port_; }
    void resetNow() { request(1); }
    void resetOnNextMessage() { request(2); }
    void closeOnNextMessage() { request(3); }

private:
    void request(int what) {
        mode_ = what;
        while (mode_ == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    void serve() {
        int client = -1;
        int server = -1;
        auto drop = [&](bool reset) {
            if (client >= 0) {
                reset ? resetConnection(client) : (void)::close(client);
                ::close(server);
                client = server = -1;
            }
        };
        while (!stopping_) {
            if (mode_ == 1) {
                drop(true);
                mode_ = 0;
            }
            pollfd fds[3] = {{listener_, POLLIN, 0}, {client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(fds, 3, 5) <= 0) {
                continue;
            }
            if (fds[0].revents & POLLIN) {
                drop(false);
                client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                server = connectToLoopback(target_);
            }
            for (int k : {1, 2}) {
                if (client < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) {
                    continue;
                }
                if (k == 1 && mode_ >= 2) {
                    drop(mode_ == 2);
                    mode_ = 0;
                    break;
                }
                char buffer[65536];
                const ssize_t n = ::recv(fds[k].fd, buffer, sizeof buffer, 0);
                if (n <= 0 || !sendAll(k == 1 ? server : client, std::string(buffer, n))) {
                    drop(false);
                    break;
                }
            }
        }
        drop(false);
    }

    std::uint16_t target_;
    std::uint16_t port_ = 0;
    int listener_ = -1;
    std::atomic<int> mode_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace testing
