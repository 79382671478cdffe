#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumetra::discovery {

// Finding VXI-11 instruments on the LAN: a portmapper GETPORT call for the VXI-11 core channel,
// sent as a UDP broadcast on each chosen interface, and every answer that names a port.
// Nothing is sent unless discover() is called.

inline constexpr std::uint16_t PortmapperPort = 111;

// One IPv4 address of a network interface. Addresses are in host byte order.
struct InterfaceAddress {
    std::string name;
    std::uint32_t address = 0;
    std::optional<std::uint32_t> broadcast; // when the interface can broadcast
    bool up = false;
    bool loopback = false;
};

// Where one call goes: from `source` (the interface's address) to `destination`.
struct Target {
    std::string interfaceName;
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    bool operator==(const Target&) const = default;
};

struct Selection {
    std::vector<Target> targets;
    std::vector<std::string> problems; // interfaces named that cannot be searched, and why
    std::vector<std::string> unknown;  // interfaces named that have no IPv4 address at all
};

// The IPv4 addresses of this machine's interfaces (getifaddrs).
std::vector<InterfaceAddress> listInterfaces();

// With no names: every interface that is up and can broadcast, loopback left out. With names:
// those interfaces only; loopback, which cannot broadcast, is called at its own address.
Selection chooseTargets(const std::vector<InterfaceAddress>& interfaces,
                        const std::vector<std::string>& names);

// The portmapper call (version 2, GETPORT) asking for the VXI-11 core channel on TCP.
std::string encodeGetPortCall(std::uint32_t xid);
// The port from a reply to the call with `xid`; no value for anything else (another call's
// reply, a refusal, a failed call, a malformed message). A port of 0 means "not registered".
std::optional<std::uint32_t> decodeGetPortReply(const std::string& message, std::uint32_t xid);

std::string ipv4Text(std::uint32_t address);

struct Options {
    std::vector<std::string> interfaces; // empty: the default choice (see chooseTargets)
    std::chrono::milliseconds timeout{1000};
    bool identify = true; // ask each instrument found for *IDN?
};

struct Instrument {
    std::string address; // dotted IPv4
    std::uint16_t port = 0;
    std::string interfaceName;
    std::string identity; // the *IDN? reply, when asked and it answered
    std::string error;    // why it did not, when asked
};

struct Result {
    std::vector<Instrument> found;     // in order of answer, each address once
    std::vector<std::string> searched; // "NAME (ADDRESS)" for each call sent
    std::vector<std::string> problems;
    std::vector<std::string> unknownInterfaces;
};

// Waits for answers until the timeout; then, with `identify`, asks every instrument found for
// *IDN? over VXI-11 (LAN device inst0), all at once, each bounded by the timeout too.
Result discover(const Options& options);

} // namespace lumetra::discovery
