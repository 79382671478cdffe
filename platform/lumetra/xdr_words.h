#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The few XDR pieces that small hand-made ONC RPC messages need, shared by Lumetra's discovery
// and the simulator's servers.
namespace lumetra::xdr {

inline void putWord(std::string& out, std::uint32_t value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    out.append(bytes, 4);
}

inline bool getWord(const std::string& in, std::size_t& offset, std::uint32_t& value) {
    if (offset > in.size() || in.size() - offset < 4) {
        return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(in.data() + offset);
    value = (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
            std::uint32_t(p[3]);
    offset += 4;
    return true;
}

// Credentials and verifiers: a flavor and an opaque body of at most 400 bytes.
inline bool skipOpaqueAuth(const std::string& in, std::size_t& offset) {
    std::uint32_t flavor = 0;
    std::uint32_t length = 0;
    if (!getWord(in, offset, flavor) || !getWord(in, offset, length) || length > 400) {
        return false;
    }
    const std::size_t padded = (length + 3u) & ~3u;
    if (in.size() - offset < padded) {
        return false;
    }
    offset += padded;
    return true;
}

} // namespace lumetra::xdr
