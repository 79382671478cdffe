#pragma once

#include "platform/lumetra/reply_scanner.h"
#include "platform/lumetra/resource_attributes.h"
#include "platform/lumetra/transport.h"

#include <string>
#include <termios.h>

namespace lumetra {

// A serial line through termios: raw mode with the resource's baud rate and line settings.
// Every message ends with the termination sequence (a line feed by default); a reply is complete
// at it, and with line feed termination a definite-length block is read whole as on the raw
// socket. Device clear discards what both directions still hold.
class SerialTransport final : public Transport {
public:
    SerialTransport(std::string devicePath, SerialSettings settings);
    ~SerialTransport() override;

    void open(Deadline deadline) override;
    void close() noexcept override;
    bool isOpen() const override { return fd_ >= 0; }
    void write(std::string_view message, IoDeadline deadline) override;
    std::string read(IoDeadline deadline) override;
    void deviceClear(Deadline deadline) override;
    bool peerHasClosed() override;
    std::size_t dropUnread(bool askLink) override;

    const std::string& devicePath() const { return path_; }

private:
    [[noreturn]] void lose(const std::string& what, int error);
    bool waitFor(short events, Deadline deadline);
    bool takeReply(std::string& reply);

    std::string path_;
    SerialSettings settings_;
    int fd_ = -1;
    std::string pending_;
    ReplyScanner scanner_;           // with line feed termination
    std::size_t termSearchFrom_ = 0; // with other terminations: where to look on
};

// Raw mode with the settings' speed, character size, parity, stop bits and flow control.
void applySerialSettings(termios& tty, const SerialSettings& settings);

// The device of an ASRL resource: a path as given, a number N as /dev/ttyS<N-1>.
std::string serialDevicePath(const std::string& port);

} // namespace lumetra
