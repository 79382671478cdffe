#include "bench/bare_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

BareClient::BareClient(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        throw std::runtime_error("bare client: cannot connect");
    }
}

BareClient::~BareClient() {
    ::close(fd_);
}

void BareClient::write(const std::string& line) {
    const std::string message = line + "\n";
    if (::send(fd_, message.data(), message.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(message.size())) {
        throw std::runtime_error("bare client: send failed");
    }
}

std::string BareClient::query(const std::string& line) {
    write(line);
    // Only the bytes not looked at yet are searched, so a long reply costs its length once.
    std::size_t searched = 0;
    for (;;) {
        auto end = pending_.find('\n', searched);
        if (end != std::string::npos) {
            std::string reply = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return reply;
        }
        searched = pending_.size();
        char buffer[65536];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            throw std::runtime_error("bare client: connection lost");
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace bench
