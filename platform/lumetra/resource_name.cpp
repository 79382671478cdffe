#include "platform/lumetra/resource_name.h"

#include "platform/lumetra/status.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <vector>

namespace lumetra {

namespace {

constexpr const char* SocketSyntax = "TCPIP[board]::host address::port::SOCKET";
constexpr const char* TcpipInstrSyntax = "TCPIP[board]::host address[::LAN device name]::INSTR";
constexpr const char* TcpipSyntax = "TCPIP[board]::host address::port::SOCKET or "
                                    "TCPIP[board]::host address[::LAN device name]::INSTR";
constexpr const char* UsbSyntax =
    "USB[board]::manufacturer ID::model code::serial number[::USB interface number]::INSTR";
constexpr const char* AsrlSyntax = "ASRL<port number or device path>::INSTR";
constexpr const char* AnySyntax =
    "one of TCPIP[board]::host address::port::SOCKET, "
    "TCPIP[board]::host address[::LAN device name]::INSTR, "
    "USB[board]::manufacturer ID::model code::serial number[::USB interface number]::INSTR, "
    "ASRL<port number or device path>::INSTR";

struct Failure {
    const char* syntax;
    std::string reason;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string upperCase(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = upper(c);
    }
    return out;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// Fields may hold "::" inside brackets: an IPv6 host "[::1]" or a LAN device name such as
// "usb0[0x1::0x2::SN::0]".
bool splitFields(std::string_view text, std::vector<std::string_view>& fields) {
    std::size_t start = 0;
    bool inBracket = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '[') {
            if (inBracket) {
                return false;
            }
            inBracket = true;
        } else if (text[i] == ']') {
            if (!inBracket) {
                return false;
            }
            inBracket = false;
        } else if (!inBracket && text[i] == ':' && i + 1 < text.size() && text[i + 1] == ':') {
            fields.push_back(text.substr(start, i - start));
            start = i + 2;
            ++i;
        }
    }
    fields.push_back(text.substr(start));
    return !inBracket;
}

std::optional<unsigned long> decimal(std::string_view s, unsigned long max) {
    if (s.empty()) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (char c : s) {
        if (!isDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > max) {
            return std::nullopt;
        }
    }
    return value;
}

std::optional<unsigned long> hexOrDecimal(std::string_view s, unsigned long max) {
    if (s.size() < 2 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) {
        return decimal(s, max);
    }
    s.remove_prefix(2);
    if (s.empty()) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (char c : s) {
        unsigned long digit;
        if (isDigit(c)) {
            digit = static_cast<unsigned long>(c - '0');
        } else if (lower(c) >= 'a' && lower(c) <= 'f') {
            digit = static_cast<unsigned long>(lower(c) - 'a' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
        if (value > max) {
            return std::nullopt;
        }
    }
    return value;
}

// Printable ASCII other than blanks, '"' and '#' (which starts a comment in configuration files).
bool isPlainText(std::string_view s) {
    for (char c : s) {
        if (c <= ' ' || c > '~' || c == '"' || c == '#') {
            return false;
        }
    }
    return true;
}

std::optional<unsigned> board(std::string_view digits, const char* syntax,
                              std::optional<Failure>& failure) {
    if (digits.empty()) {
        return 0u;
    }
    if (auto value = decimal(digits, 65535)) {
        return static_cast<unsigned>(*value);
    }
    failure = Failure{syntax, "board number " + quoted(digits) + " is not a number up to 65535"};
    return std::nullopt;
}

bool isIpv4(std::string_view host) {
    int parts = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = host.find('.', start);
        const std::string_view part = host.substr(start, dot - start);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0') ||
            !decimal(part, 255)) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            return parts == 4;
        }
        start = dot + 1;
    }
}

bool isHostname(std::string_view host) {
    if (host.empty() || host.size() > 253) {
        return false;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = host.find('.', start);
        const std::string_view label = host.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
            return false;
        }
        for (char c : label) {
            if (!isAlpha(c) && !isDigit(c) && c != '-') {
                return false;
            }
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        start = dot + 1;
    }
}

bool isAllDigitsAndDots(std::string_view s) {
    for (char c : s) {
        if (!isDigit(c) && c != '.') {
            return false;
        }
    }
    return true;
}

std::optional<std::string> host(std::string_view text, const char* syntax,
                                std::optional<Failure>& failure) {
    if (text.empty()) {
        failure = Failure{syntax, "the host address is empty"};
        return std::nullopt;
    }
    if (text.front() == '[') {
        // Spelled out again by inet_ntop so that every way of writing one address compares equal.
        const std::string inner(text.substr(1, text.size() - 2));
        in6_addr address{};
        char buffer[INET6_ADDRSTRLEN];
        if (text.back() != ']' || ::inet_pton(AF_INET6, inner.c_str(), &address) != 1 ||
            !::inet_ntop(AF_INET6, &address, buffer, sizeof buffer)) {
            failure = Failure{syntax, "host address " + quoted(text) + " is not an IPv6 address"};
            return std::nullopt;
        }
        return std::string(buffer);
    }
    if (isAllDigitsAndDots(text)) {
        if (!isIpv4(text)) {
            failure = Failure{syntax, "host address " + quoted(text) + " is not an IPv4 address"};
            return std::nullopt;
        }
        return std::string(text);
    }
    if (!isHostname(text)) {
        failure = Failure{syntax, "host address " + quoted(text) +
                                      " is not a host name (letters, digits, '-' and '.'), "
                                      "an IPv4 address or a bracketed IPv6 address"};
        return std::nullopt;
    }
    std::string name(text);
    for (char& c : name) {
        c = lower(c);
    }
    return name;
}

std::optional<ResourceAddress> parseTcpip(const std::vector<std::string_view>& fields,
                                          std::string_view boardDigits,
                                          std::optional<Failure>& failure) {
    const std::string resourceClass = upperCase(fields.back());
    if (fields.size() < 3) {
        failure = Failure{TcpipSyntax, "too few fields"};
        return std::nullopt;
    }
    if (resourceClass == "SOCKET") {
        if (fields.size() != 4) {
            failure = Failure{SocketSyntax,
                              fields.size() < 4 ? "the port is missing" : "too many fields"};
            return std::nullopt;
        }
        TcpipSocketAddress address;
        auto number = board(boardDigits, SocketSyntax, failure);
        auto name = number ? host(fields[1], SocketSyntax, failure) : std::nullopt;
        if (!name) {
            return std::nullopt;
        }
        auto port = decimal(fields[2], 65535);
        if (!port || *port == 0) {
            failure = Failure{SocketSyntax,
                              "port " + quoted(fields[2]) + " is not a number from 1 to 65535"};
            return std::nullopt;
        }
        address.board = *number;
        address.host = std::move(*name);
        address.port = static_cast<std::uint16_t>(*port);
        return address;
    }
    if (resourceClass == "INSTR") {
        if (fields.size() > 4) {
            failure = Failure{TcpipInstrSyntax, "too many fields"};
            return std::nullopt;
        }
        TcpipInstrAddress address;
        auto number = board(boardDigits, TcpipInstrSyntax, failure);
        auto name = number ? host(fields[1], TcpipInstrSyntax, failure) : std::nullopt;
        if (!name) {
            return std::nullopt;
        }
        address.board = *number;
        address.host = std::move(*name);
        if (fields.size() == 4) {
            if (fields[2].empty() || !isPlainText(fields[2])) {
                failure = Failure{TcpipInstrSyntax,
                                  "LAN device name " + quoted(fields[2]) + " is not valid"};
                return std::nullopt;
            }
            address.lanDeviceName = std::string(fields[2]);
        }
        return address;
    }
    failure = Failure{TcpipSyntax, "unknown resource class " + quoted(fields.back())};
    return std::nullopt;
}

std::optional<ResourceAddress> parseUsb(const std::vector<std::string_view>& fields,
                                        std::string_view boardDigits,
                                        std::optional<Failure>& failure) {
    if (upperCase(fields.back()) != "INSTR") {
        failure = Failure{UsbSyntax, fields.size() < 2
                                         ? std::string("too few fields")
                                         : "unknown resource class " + quoted(fields.back())};
        return std::nullopt;
    }
    if (fields.size() < 5 || fields.size() > 6) {
        failure = Failure{UsbSyntax, fields.size() < 5 ? "too few fields" : "too many fields"};
        return std::nullopt;
    }
    UsbInstrAddress address;
    auto number = board(boardDigits, UsbSyntax, failure);
    if (!number) {
        return std::nullopt;
    }
    address.board = *number;
    const auto vendor = hexOrDecimal(fields[1], 0xFFFF);
    if (!vendor) {
        failure = Failure{UsbSyntax, "manufacturer ID " + quoted(fields[1]) +
                                         " is not a number from 0 to 0xFFFF"};
        return std::nullopt;
    }
    const auto product = hexOrDecimal(fields[2], 0xFFFF);
    if (!product) {
        failure = Failure{UsbSyntax,
                          "model code " + quoted(fields[2]) + " is not a number from 0 to 0xFFFF"};
        return std::nullopt;
    }
    if (fields[3].empty() || !isPlainText(fields[3])) {
        failure = Failure{UsbSyntax, fields[3].empty()
                                         ? std::string("the serial number is empty")
                                         : "serial number " + quoted(fields[3]) + " is not valid"};
        return std::nullopt;
    }
    address.vendorId = static_cast<std::uint16_t>(*vendor);
    address.productId = static_cast<std::uint16_t>(*product);
    address.serialNumber = std::string(fields[3]);
    if (fields.size() == 6) {
        const auto interface = decimal(fields[4], 255);
        if (!interface) {
            failure = Failure{UsbSyntax, "USB interface number " + quoted(fields[4]) +
                                             " is not a number from 0 to 255"};
            return std::nullopt;
        }
        address.interfaceNumber = static_cast<unsigned>(*interface);
    }
    return address;
}

std::optional<ResourceAddress> parseAsrl(const std::vector<std::string_view>& fields,
                                         std::string_view port, std::optional<Failure>& failure) {
    if (fields.size() != 2) {
        failure = Failure{AsrlSyntax, fields.size() < 2 ? "too few fields" : "too many fields"};
        return std::nullopt;
    }
    if (upperCase(fields[1]) != "INSTR") {
        failure = Failure{AsrlSyntax, "unknown resource class " + quoted(fields[1])};
        return std::nullopt;
    }
    if (port.empty()) {
        failure = Failure{AsrlSyntax, "the port is missing"};
        return std::nullopt;
    }
    AsrlInstrAddress address;
    if (port.front() == '/') {
        if (port.size() < 2 || !isPlainText(port)) {
            failure = Failure{AsrlSyntax, "device path " + quoted(port) + " is not valid"};
            return std::nullopt;
        }
        address.port = std::string(port);
    } else if (auto number = decimal(port, 65535)) {
        address.port = std::to_string(*number);
    } else {
        failure = Failure{AsrlSyntax, "port " + quoted(port) +
                                          " is neither a number nor a device path starting "
                                          "with '/'"};
        return std::nullopt;
    }
    return address;
}

std::optional<ResourceAddress> parseAddress(std::string_view text,
                                            std::optional<Failure>& failure) {
    text = trimmed(text);
    if (text.empty()) {
        failure = Failure{AnySyntax, "the name is empty"};
        return std::nullopt;
    }
    std::size_t keywordLength = 0;
    while (keywordLength < text.size() && isAlpha(text[keywordLength])) {
        ++keywordLength;
    }
    const std::string keyword = upperCase(text.substr(0, keywordLength));
    enum class Interface { Tcpip, Usb, Asrl };
    struct Known {
        std::string_view keyword;
        Interface interface;
        const char* syntax;
    };
    static constexpr Known known[] = {{"TCPIP", Interface::Tcpip, TcpipSyntax},
                                      {"USB", Interface::Usb, UsbSyntax},
                                      {"ASRL", Interface::Asrl, AsrlSyntax}};
    const Known* kind = nullptr;
    for (const Known& k : known) {
        if (keyword.starts_with(k.keyword)) {
            kind = &k;
        }
    }
    if (!kind) {
        if (keyword == "GPIB" || keyword == "VXI" || keyword == "PXI") {
            failure = Failure{AnySyntax, "interface " + keyword + " is not supported"};
        } else {
            failure = Failure{AnySyntax, keyword.empty() ? std::string("the interface is missing")
                                                         : "unknown interface " + quoted(keyword)};
        }
        return std::nullopt;
    }
    const char* syntax = kind->syntax;
    if (text.ends_with("::")) {
        failure = Failure{syntax, "it ends with \"::\""};
        return std::nullopt;
    }
    std::vector<std::string_view> fields;
    if (!splitFields(text, fields)) {
        failure = Failure{syntax, "its brackets do not match"};
        return std::nullopt;
    }
    const std::string_view rest = fields.front().substr(kind->keyword.size());
    switch (kind->interface) {
    case Interface::Tcpip:
        return parseTcpip(fields, rest, failure);
    case Interface::Usb:
        return parseUsb(fields, rest, failure);
    case Interface::Asrl:
        break;
    }
    return parseAsrl(fields, rest, failure);
}

std::string message(std::string_view text, const Failure& failure) {
    return "invalid resource name " + quoted(text) + ": expected " + failure.syntax + " (" +
           failure.reason + ")";
}

std::string hex4(std::uint16_t value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%04X", static_cast<unsigned>(value));
    return buffer;
}

std::string bracketed(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

} // namespace

ResourceName ResourceName::parse(std::string_view text) {
    std::optional<Failure> failure;
    auto address = parseAddress(text, failure);
    if (!address) {
        throw Error(status::ErrorInvalidResourceName, message(text, *failure));
    }
    return ResourceName(std::move(*address));
}

std::optional<ResourceName> ResourceName::tryParse(std::string_view text, std::string* error) {
    std::optional<Failure> failure;
    auto address = parseAddress(text, failure);
    if (!address) {
        if (error) {
            *error = message(text, *failure);
        }
        return std::nullopt;
    }
    return ResourceName(std::move(*address));
}

std::string ResourceName::canonical() const {
    if (const auto* a = std::get_if<TcpipSocketAddress>(&address_)) {
        return "TCPIP" + std::to_string(a->board) + "::" + bracketed(a->host) +
               "::" + std::to_string(a->port) + "::SOCKET";
    }
    if (const auto* a = std::get_if<TcpipInstrAddress>(&address_)) {
        return "TCPIP" + std::to_string(a->board) + "::" + bracketed(a->host) +
               "::" + a->lanDeviceName + "::INSTR";
    }
    if (const auto* a = std::get_if<UsbInstrAddress>(&address_)) {
        return "USB" + std::to_string(a->board) + "::" + hex4(a->vendorId) +
               "::" + hex4(a->productId) + "::" + a->serialNumber +
               "::" + std::to_string(a->interfaceNumber) + "::INSTR";
    }
    return "ASRL" + std::get<AsrlInstrAddress>(address_).port + "::INSTR";
}

std::string ResourceName::interfaceAndClass() const {
    if (std::holds_alternative<TcpipSocketAddress>(address_)) {
        return "TCPIP::SOCKET";
    }
    if (std::holds_alternative<TcpipInstrAddress>(address_)) {
        return "TCPIP::INSTR";
    }
    if (std::holds_alternative<UsbInstrAddress>(address_)) {
        return "USB::INSTR";
    }
    return "ASRL::INSTR";
}

} // namespace lumetra
