#pragma once

#include "platform/lumetra/transport.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace lumetra {

class RpcStream;

// VXI-11 over ONC RPC on TCP: a link to one LAN device name on the host. The core channel's port
// comes from the resource's settings or else from the host's portmapper. Every RPC call waits at
// most until the operation's deadline, and the device's own I/O and lock timeouts are set from
// it too. A link that failed is closed without another word to the peer. A message ends at END; its
// final line feed is not part of the reply. Device clear is the protocol's device_clear.
class Vxi11Transport final : public Transport {
public:
    Vxi11Transport(std::string host, std::string deviceName,
                   std::optional<std::uint16_t> port = std::nullopt,
                   std::uint32_t readRequestSize = 1u << 20);
    ~Vxi11Transport() override;

    void open(Deadline deadline) override;
    void close() noexcept override;
    bool isOpen() const override { return core_ != nullptr; }
    void write(std::string_view message, IoDeadline deadline) override;
    std::string read(IoDeadline deadline) override;
    // A message that fits one device_write goes out together with the device_read for its
    // reply, so a query costs one round trip instead of two.
    std::string query(std::string_view message, IoDeadline deadline) override;
    void deviceClear(Deadline deadline) override;
    bool peerHasClosed() override;
    std::size_t dropUnread(bool askLink) override;

    // The core channel's port of the open link (0 when closed).
    std::uint16_t linkPort() const { return linkPort_; }

private:
    std::string where() const;
    void callCore(unsigned long procedure, void* encode, void* arguments, void* decode,
                  void* result, IoDeadline& deadline, const char* what);
    // Runs `step` on the core channel, first checking the deadline; after a failed step the
    // channel may hold half a record, so the link is closed without another word to the peer.
    template <typename Step> void onCore(IoDeadline& deadline, const char* what, Step&& step);
    // Reads one reply; its first device_read was already sent when `sentRead` holds its id.
    std::string readReply(IoDeadline& deadline, std::optional<std::uint32_t> sentRead);
    [[noreturn]] void failDevice(long error, const char* what);

    std::string host_;
    std::string deviceName_;
    std::optional<std::uint16_t> configuredPort_;
    std::uint32_t readRequestSize_;
    int fd_ = -1;
    std::unique_ptr<RpcStream> core_;
    long link_ = 0;
    std::uint32_t maxWriteSize_ = 1024;
    std::uint16_t linkPort_ = 0;
    bool healthy_ = false;
    std::chrono::milliseconds lastTimeout_{1000};
};

// Asks the portmapper on `host` (TCP port 111) for the port of the VXI-11 core channel, by the
// deadline. Throws lumetra::Error.
std::uint16_t vxi11PortFromPortmapper(const std::string& host, Deadline deadline);

} // namespace lumetra
