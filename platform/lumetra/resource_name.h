#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace lumetra {

// TCPIP[board]::host::port::SOCKET — raw SCPI over TCP, line-feed terminated.
// Hosts are stored ready for name lookup: hostnames in lower case, IPv6 without brackets.
struct TcpipSocketAddress {
    unsigned board = 0;
    std::string host;
    std::uint16_t port = 0;
    bool operator==(const TcpipSocketAddress&) const = default;
};

// TCPIP[board]::host[::lan device name]::INSTR — VXI-11.
struct TcpipInstrAddress {
    unsigned board = 0;
    std::string host;
    std::string lanDeviceName = "inst0";
    bool operator==(const TcpipInstrAddress&) const = default;
};

// USB[board]::vendor::product::serial[::interface]::INSTR — USBTMC.
struct UsbInstrAddress {
    unsigned board = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serialNumber;
    unsigned interfaceNumber = 0;
    bool operator==(const UsbInstrAddress&) const = default;
};

// ASRL<number or device path>::INSTR — serial line.
struct AsrlInstrAddress {
    std::string port; // "1" for ASRL1::INSTR, "/dev/ttyUSB0" for ASRL/dev/ttyUSB0::INSTR
    bool operator==(const AsrlInstrAddress&) const = default;
};

using ResourceAddress =
    std::variant<TcpipSocketAddress, TcpipInstrAddress, UsbInstrAddress, AsrlInstrAddress>;

class ResourceName {
public:
    // Throws lumetra::Error with status::ErrorInvalidResourceName; the message quotes the text
    // and the syntax that was expected for its interface and resource class.
    static ResourceName parse(std::string_view text);
    // Same, without throwing; on failure `error` (when given) receives the message.
    static std::optional<ResourceName> tryParse(std::string_view text,
                                                std::string* error = nullptr);

    const ResourceAddress& address() const { return address_; }
    // Canonical form: upper-case keywords, explicit board number, defaults spelled out,
    // USB ids as 0xHHHH. Two names that address the same resource have the same canonical form.
    std::string canonical() const;
    // "TCPIP::SOCKET", "TCPIP::INSTR", "USB::INSTR", "ASRL::INSTR": the kind of link, no board
    std::string interfaceAndClass() const;

    bool operator==(const ResourceName& other) const { return address_ == other.address_; }

private:
    explicit ResourceName(ResourceAddress address) : address_(std::move(address)) {}
    ResourceAddress address_;
};

} // namespace lumetra
