#pragma once

#include "platform/lumetra/transport.h"

#include <string>

namespace lumetra {

// Raw SCPI over TCP: every message ends with a line feed, and a reply is complete at its line
// feed (never at a short read). Definite-length blocks ("#<n><length><bytes>") outside quoted
// strings are read whole, so a line feed among their bytes does not end the reply.
class SocketTransport final : public Transport {
public:
    SocketTransport(std::string host, std::uint16_t port);
    ~SocketTransport() override;

    void open(Deadline deadline) override;
    void close() noexcept override;
    bool isOpen() const override { return fd_ >= 0; }
    void write(std::string_view message, Deadline deadline) override;
    std::string read(Deadline deadline) override;
    void deviceClear(Deadline deadline) override;
    bool peerHasClosed() override;

private:
    [[noreturn]] void lose(const std::string& what, int error);
    bool waitFor(short events, Deadline deadline);
    void boundNextReceive(long long leftUs);
    std::string endpoint() const;

    std::string host_;
    std::uint16_t port_;
    int fd_ = -1;
    std::string pending_; // received bytes not yet handed out
    long long receiveTimeoutUs_ = -1;
};

// The framing rule, exposed for tests: the length of the first message in `bytes` including
// its line feed, or 0 when it is not complete yet. `afterLastBlock` receives the offset just
// past the message's last definite-length block (0 when it has none).
std::size_t scpiMessageLength(std::string_view bytes, std::size_t* afterLastBlock = nullptr);

} // namespace lumetra
