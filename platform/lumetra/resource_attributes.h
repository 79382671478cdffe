#pragma once

#include "platform/lumetra/resource_name.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace lumetra {

// Per-resource link settings, written after the resource on its line in resources.conf as
// `key=value` words, e.g. `ASRL/dev/ttyUSB0::INSTR baud=115200 parity=none`. Keys are lower
// case; values are kept in their canonical spelling. Which keys a resource takes depends on its
// class:
//   TCPIP::INSTR  vxi11-port=PORT (the VXI-11 core channel's port; default: ask the host's
//                 portmapper)
//   ASRL::INSTR   baud=N (default 9600), data-bits=5..8 (8), parity=none|odd|even (none),
//                 stop-bits=1|2 (1), flow-control=none|rts-cts (none), termination=lf|cr|crlf (lf)
using ResourceAttributes = std::map<std::string, std::string>;

// Parses the words after a resource on its line. On failure returns no value and says why in
// `error`: an unknown key, a key that the resource's class does not take, a bad value.
std::optional<ResourceAttributes> parseResourceAttributes(const ResourceName& resource,
                                                          std::string_view text,
                                                          std::string* error = nullptr);
// "key=value key=value", in key order; empty for none.
std::string formatResourceAttributes(const ResourceAttributes& attributes);
// Short description of every key, one line each, for help texts.
const char* resourceAttributesHelp();

struct SerialSettings {
    unsigned baud = 9600;
    int dataBits = 8;
    char parity = 'N'; // 'N', 'O' or 'E'
    int stopBits = 1;
    bool rtsCts = false;
    std::string termination = "\n";
    bool operator==(const SerialSettings&) const = default;
};

// Typed views of validated attributes (defaults for keys that are absent).
SerialSettings serialSettings(const ResourceAttributes& attributes);
std::optional<std::uint16_t> vxi11Port(const ResourceAttributes& attributes);

} // namespace lumetra
