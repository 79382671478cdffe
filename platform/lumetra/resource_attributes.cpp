#include "platform/lumetra/resource_attributes.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace lumetra {

namespace {

constexpr unsigned BaudRates[] = {50,     75,      110,     134,     150,     200,     300,
                                  600,    1200,    1800,    2400,    4800,    9600,    19200,
                                  38400,  57600,   115200,  230400,  460800,  500000,  576000,
                                  921600, 1000000, 1152000, 1500000, 2000000, 3000000, 4000000};

std::optional<unsigned long> number(std::string_view text, unsigned long low, unsigned long high) {
    unsigned long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::string lowerCase(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// The canonical value, or no value with the reason in `why`.
std::optional<std::string> canonicalValue(const std::string& key, const std::string& value,
                                          std::string& why) {
    if (key == "vxi11-port") {
        if (auto port = number(value, 1, 65535)) {
            return std::to_string(*port);
        }
        why = "a port from 1 to 65535";
    } else if (key == "baud") {
        auto rate = number(value, 1, 4000000);
        if (rate &&
            std::find(std::begin(BaudRates), std::end(BaudRates), *rate) != std::end(BaudRates)) {
            return std::to_string(*rate);
        }
        why = "a standard baud rate such as 9600 or 115200";
    } else if (key == "data-bits") {
        if (auto bits = number(value, 5, 8)) {
            return std::to_string(*bits);
        }
        why = "5, 6, 7 or 8";
    } else if (key == "stop-bits") {
        if (auto bits = number(value, 1, 2)) {
            return std::to_string(*bits);
        }
        why = "1 or 2";
    } else if (key == "parity") {
        const std::string v = lowerCase(value);
        if (v == "none" || v == "odd" || v == "even") {
            return v;
        }
        why = "none, odd or even";
    } else if (key == "flow-control") {
        const std::string v = lowerCase(value);
        if (v == "none" || v == "rts-cts") {
            return v;
        }
        why = "none or rts-cts";
    } else if (key == "termination") {
        const std::string v = lowerCase(value);
        if (v == "lf" || v == "cr" || v == "crlf") {
            return v;
        }
        why = "lf, cr or crlf";
    }
    return std::nullopt;
}

std::vector<std::string> keysFor(const ResourceName& resource) {
    const std::string kind = resource.interfaceAndClass();
    if (kind == "TCPIP::INSTR") {
        return {"vxi11-port"};
    }
    if (kind == "ASRL::INSTR") {
        return {"baud", "data-bits", "parity", "stop-bits", "flow-control", "termination"};
    }
    return {};
}

} // namespace

std::optional<ResourceAttributes>
parseResourceAttributes(const ResourceName& resource, std::string_view text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<ResourceAttributes> {
        if (error) {
            *error = "attributes of " + resource.canonical() + ": " + why;
        }
        return std::nullopt;
    };
    ResourceAttributes attributes;
    const std::vector<std::string> allowed = keysFor(resource);
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t i = 0;
    while (i < text.size()) {
        if (blank(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !blank(text[end])) {
            ++end;
        }
        const std::string_view word = text.substr(i, end - i);
        i = end;
        const std::size_t eq = word.find('=');
        if (eq == std::string_view::npos || eq == 0 || eq + 1 == word.size()) {
            return fail("\"" + std::string(word) + "\" is not key=value");
        }
        const std::string key = lowerCase(word.substr(0, eq));
        const std::string value(word.substr(eq + 1));
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            std::string known;
            for (const std::string& k : allowed) {
                known += (known.empty() ? "" : ", ") + k;
            }
            return fail("key \"" + key + "\" is not known for " + resource.interfaceAndClass() +
                        " resources" +
                        (known.empty() ? " (they take none)" : " (known: " + known + ")"));
        }
        if (attributes.count(key)) {
            return fail("key \"" + key + "\" is given twice");
        }
        std::string why;
        auto canonical = canonicalValue(key, value, why);
        if (!canonical) {
            return fail(key + " must be " + why + ", not \"" + value + "\"");
        }
        attributes[key] = *canonical;
    }
    return attributes;
}

std::string formatResourceAttributes(const ResourceAttributes& attributes) {
    std::string out;
    for (const auto& [key, value] : attributes) {
        out += (out.empty() ? "" : " ") + key + "=" + value;
    }
    return out;
}

const char* resourceAttributesHelp() {
    return "  TCPIP::INSTR  vxi11-port=PORT      VXI-11 port (default: ask the host's portmapper)\n"
           "  ASRL::INSTR   baud=N               9600 by default\n"
           "                data-bits=5..8       8\n"
           "                parity=none|odd|even none\n"
           "                stop-bits=1|2        1\n"
           "                flow-control=none|rts-cts\n"
           "                                     none\n"
           "                termination=lf|cr|crlf\n"
           "                                     lf: the character that ends every message\n";
}

SerialSettings serialSettings(const ResourceAttributes& attributes) {
    SerialSettings settings;
    auto get = [&](const char* key) -> const std::string* {
        auto it = attributes.find(key);
        return it == attributes.end() ? nullptr : &it->second;
    };
    if (auto v = get("baud")) {
        settings.baud = static_cast<unsigned>(std::stoul(*v));
    }
    if (auto v = get("data-bits")) {
        settings.dataBits = std::stoi(*v);
    }
    if (auto v = get("stop-bits")) {
        settings.stopBits = std::stoi(*v);
    }
    if (auto v = get("parity")) {
        settings.parity = *v == "odd" ? 'O' : *v == "even" ? 'E' : 'N';
    }
    if (auto v = get("flow-control")) {
        settings.rtsCts = *v == "rts-cts";
    }
    if (auto v = get("termination")) {
        settings.termination = *v == "cr" ? "\r" : *v == "crlf" ? "\r\n" : "\n";
    }
    return settings;
}

std::optional<std::uint16_t> vxi11Port(const ResourceAttributes& attributes) {
    auto it = attributes.find("vxi11-port");
    if (it == attributes.end()) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(std::stoul(it->second));
}

} // namespace lumetra
