#pragma once

#include "platform/lumetra/net_util.h"
#include "platform/lumetra/reply_scanner.h"
#include "platform/lumetra/transport.h"

#include <string>

namespace lumetra {

// Raw SCPI over TCP: every message ends with a line feed, and a reply is complete at its line
// feed (never at a short read), as ReplyScanner finds it.
class SocketTransport final : public Transport {
public:
    SocketTransport(std::string host, std::uint16_t port);
    ~SocketTransport() override;

    void open(Deadline deadline) override;
    void close() noexcept override;
    bool isOpen() const override { return fd_ >= 0; }
    void write(std::string_view message, IoDeadline deadline) override;
    std::string read(IoDeadline deadline) override;
    void deviceClear(Deadline deadline) override;
    bool peerHasClosed() override;
    std::size_t dropUnread(bool askLink) override;

private:
    [[noreturn]] void lose(const std::string& what, int error);
    std::string endpoint() const;

    std::string host_;
    std::uint16_t port_;
    int fd_ = -1;
    std::string pending_; // received bytes not yet handed out
    ReplyScanner scanner_;
    net::ReceiveBound receiveBound_;
};

} // namespace lumetra
