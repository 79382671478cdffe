#include "bench/fast_instrument.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace bench {

namespace {

void sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

} // namespace

FastInstrument::FastInstrument(int names) {
    for (int k = 0; k < names; ++k) {
        listing_ += (k ? ",\"" : "\"") + std::string("WFM") + std::to_string(100000 + k) + ".ISF\"";
    }
    listing_ += '\n';
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener_);
        throw std::runtime_error("fast instrument: cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

FastInstrument::~FastInstrument() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

void FastInstrument::answer(int fd, std::string_view line) {
    if (line == "BUSY?") {
        sendAll(fd, "0\n");
    } else if (line == "FILES:DIR?") {
        sendAll(fd, listing_);
    } else if (!line.empty() && line.back() == '?') {
        sendAll(fd, "1\n");
    }
}

void FastInstrument::serve() {
    struct Client {
        int fd;
        std::string pending;
    };
    std::vector<Client> clients;
    while (!stopping_) {
        std::vector<pollfd> fds{{listener_, POLLIN, 0}};
        for (const Client& client : clients) {
            fds.push_back({client.fd, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), 20) <= 0) {
            continue;
        }
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            clients.push_back({fd, {}});
        }
        for (std::size_t k = 1; k < fds.size(); ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            Client& client = clients[k - 1];
            char buffer[65536];
            const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                ::close(client.fd);
                client.fd = -1;
                continue;
            }
            client.pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t from = 0;
            for (std::size_t end; (end = client.pending.find('\n', from)) != std::string::npos;
                 from = end + 1) {
                answer(client.fd, std::string_view(client.pending).substr(from, end - from));
            }
            client.pending.erase(0, from);
        }
        std::erase_if(clients, [](const Client& client) { return client.fd < 0; });
    }
    for (const Client& client : clients) {
        ::close(client.fd);
    }
}

} // namespace bench
