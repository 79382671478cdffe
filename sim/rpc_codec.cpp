#include "sim/rpc_codec.h"

#include "platform/lumetra/xdr_words.h"

#include <cstring>
#include <rpc/rpc.h>
#include <vector>

namespace sim::rpc {

namespace {

using Routine = bool_t (*)(XDR*, void*);

using lumetra::xdr::getWord;
using lumetra::xdr::putWord;
using lumetra::xdr::skipOpaqueAuth;

} // namespace

bool takeRecord(std::string& input, std::string& record, bool& bad, std::size_t maxRecord) {
    bad = false;
    std::string assembled;
    std::size_t offset = 0;
    for (;;) {
        std::uint32_t header = 0;
        std::size_t at = offset;
        if (!getWord(input, at, header)) {
            return false;
        }
        const std::size_t length = header & 0x7fffffffu;
        if (assembled.size() + length > maxRecord) {
            bad = true;
            return false;
        }
        if (at + length > input.size()) {
            return false;
        }
        assembled.append(input, at, length);
        offset = at + length;
        if (header & 0x80000000u) {
            input.erase(0, offset);
            record = std::move(assembled);
            return true;
        }
    }
}

std::string frameRecord(const std::string& payload) {
    std::string out;
    putWord(out, 0x80000000u | static_cast<std::uint32_t>(payload.size()));
    return out + payload;
}

std::optional<Call> parseCall(const std::string& message, std::string& refusal) {
    refusal.clear();
    std::size_t offset = 0;
    Call call;
    std::uint32_t type = 0;
    std::uint32_t rpcVersion = 0;
    if (!getWord(message, offset, call.xid) || !getWord(message, offset, type) || type != 0 ||
        !getWord(message, offset, rpcVersion)) {
        return std::nullopt;
    }
    if (rpcVersion != 2) {
        putWord(refusal, call.xid);
        putWord(refusal, 1); // reply
        putWord(refusal, 1); // denied
        putWord(refusal, 0); // RPC version mismatch
        putWord(refusal, 2);
        putWord(refusal, 2);
        return std::nullopt;
    }
    if (!getWord(message, offset, call.program) || !getWord(message, offset, call.version) ||
        !getWord(message, offset, call.procedure) || !skipOpaqueAuth(message, offset) ||
        !skipOpaqueAuth(message, offset)) {
        return std::nullopt;
    }
    call.argumentsOffset = offset;
    return call;
}

std::string acceptedReply(std::uint32_t xid, std::uint32_t status, const std::string& results) {
    std::string out;
    putWord(out, xid);
    putWord(out, 1); // reply
    putWord(out, 0); // accepted
    putWord(out, 0); // verifier: none
    putWord(out, 0);
    putWord(out, status);
    return out + results;
}

std::string versionRange(std::uint32_t low, std::uint32_t high) {
    std::string out;
    putWord(out, low);
    putWord(out, high);
    return out;
}

bool decode(const std::string& message, std::size_t offset, void* decoder, void* object) {
    if (offset > message.size()) {
        return false;
    }
    // xdrmem wants a writable buffer even for decoding.
    std::vector<char> buffer(message.begin() + static_cast<std::ptrdiff_t>(offset), message.end());
    XDR xdrs;
    ::xdrmem_create(&xdrs, buffer.data(), static_cast<u_int>(buffer.size()), XDR_DECODE);
    const bool ok = reinterpret_cast<Routine>(decoder)(&xdrs, object);
    xdr_destroy(&xdrs);
    return ok;
}

std::string encode(void* encoder, void* object) {
    const unsigned long size = ::xdr_sizeof(reinterpret_cast<xdrproc_t>(encoder), object);
    std::string out(size, '\0');
    XDR xdrs;
    ::xdrmem_create(&xdrs, out.data(), static_cast<u_int>(out.size()), XDR_ENCODE);
    const bool ok = reinterpret_cast<Routine>(encoder)(&xdrs, object);
    out.resize(ok ? xdr_getpos(&xdrs) : 0);
    xdr_destroy(&xdrs);
    return out;
}

void release(void* decoder, void* object) {
    ::xdr_free(reinterpret_cast<xdrproc_t>(decoder), static_cast<char*>(object));
}

} // namespace sim::rpc
