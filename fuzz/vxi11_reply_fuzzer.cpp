// VXI-11 replies as the client decodes them. The input is one reply record, decoded as each
// result the client asks for, then the same bytes as a record-marked stream arriving on a
// socket. Properties: no crash, no leak, no allocation beyond the announced bounds (run with
// -malloc_limit_mb), a decoded result holds exactly the values its bytes encode, and a refusal
// or a cut reply is a lumetra::Error.
#include "fuzz/fuzz_check.h"
#include "platform/lumetra/rpc_stream.h"
#include "platform/lumetra/status.h"
#include "platform/lumetra/vxi11/vxi11_protocol.h"
#include "platform/lumetra/xdr_words.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <rpc/rpc.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t Xid = 0x56780001; // the starting corpus uses this id

template <typename Routine> xdrproc_t routine(Routine r) {
    return reinterpret_cast<xdrproc_t>(r);
}

std::uint32_t wordAt(const std::string& reply, std::size_t offset) {
    std::uint32_t word = 0;
    FUZZ_CHECK(lumetra::xdr::getWord(reply, offset, word));
    return word;
}

// A reply that gave results is a reply to our call, accepted, with a verifier of at most 400
// bytes, and successful. Returns where the results start.
std::size_t resultsOffset(const std::string& reply) {
    FUZZ_CHECK(wordAt(reply, 0) == Xid && wordAt(reply, 4) == 1 && wordAt(reply, 8) == 0);
    const std::uint32_t verifierLength = wordAt(reply, 16);
    FUZZ_CHECK(verifierLength <= 400);
    const std::size_t acceptStatusAt = 20 + (verifierLength + 3) / 4 * 4;
    FUZZ_CHECK(wordAt(reply, acceptStatusAt) == 0);
    return acceptStatusAt + 4;
}

// A `long` holds its word read as signed or as unsigned: libtirpc reads it without sign
// extension.
bool holds(long value, const std::string& reply, std::size_t offset) {
    const std::uint32_t word = wordAt(reply, offset);
    return value == static_cast<std::int32_t>(word) || value == static_cast<long>(word);
}

// Decodes `reply` as `Result`; `check` compares the result with the bytes it came from.
template <typename Result, typename Check>
void decodeAs(const std::string& reply, xdrproc_t decoder, Check check) {
    Result result{};
    bool taken = false;
    try {
        taken = lumetra::takeReply(reply, Xid, decoder, &result, "the call", "fuzz");
    } catch (const lumetra::Error& e) {
        FUZZ_CHECK(e.code() == lumetra::status::ErrorConnectionLost ||
                   e.code() == lumetra::status::ErrorIo ||
                   e.code() == lumetra::status::ErrorResourceNotFound);
        return;
    }
    if (!taken) {
        FUZZ_CHECK(wordAt(reply, 0) != Xid);
        return;
    }
    check(result, resultsOffset(reply));
    lumetra::RpcStream::release(decoder, &result);
}

constexpr std::size_t StreamBound = 1024;

// How a call must end when `stream` is all that comes back and none of it answers the call:
// refused (ErrorIo) at the first record whose fragment marks announce more than the bound, as
// soon as the mark is there; else the connection is lost, at a record that is no reply or at
// the end of the stream.
lumetra::Status expectedEnd(const std::string& stream) {
    std::size_t offset = 0;
    std::string record;
    std::uint32_t mark = 0;
    while (lumetra::xdr::getWord(stream, offset, mark)) {
        const std::size_t length = mark & 0x7fffffffu;
        if (record.size() + length > StreamBound) {
            return lumetra::status::ErrorIo;
        }
        if (stream.size() - offset < length) {
            break;
        }
        record.append(stream, offset, length);
        offset += length;
        if (mark & 0x80000000u) {
            if (record.size() < 8 || wordAt(record, 4) != 1) {
                break;
            }
            record.clear();
        }
    }
    return lumetra::status::ErrorConnectionLost;
}

// Feeds `stream` to a call on a socket whose peer has sent it and then stopped. The call's id
// is chosen at random, so every reply is someone else's.
void receiveAsStream(const std::string& stream) {
    int fds[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
    FUZZ_CHECK(::send(fds[1], stream.data(), stream.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(stream.size()));
    ::shutdown(fds[1], SHUT_WR);
    {
        lumetra::RpcStream rpc(fds[0], DEVICE_CORE, DEVICE_CORE_VERSION, StreamBound);
        Device_Link link = 1;
        Device_Error result{};
        lumetra::IoDeadline deadline(lumetra::Clock::now() + std::chrono::seconds(5));
        try {
            rpc.call(23, routine(xdr_Device_Link), &link, routine(xdr_Device_Error), &result,
                     deadline, "destroy_link", "fuzz");
            lumetra::RpcStream::release(routine(xdr_Device_Error), &result);
        } catch (const lumetra::Error& e) {
            FUZZ_CHECK(e.code() == expectedEnd(stream));
        }
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);

    decodeAs<Create_LinkResp>(reply, routine(xdr_Create_LinkResp),
                              [&](const Create_LinkResp& r, std::size_t at) {
                                  FUZZ_CHECK(holds(r.error, reply, at));
                                  FUZZ_CHECK(holds(r.lid, reply, at + 4));
                                  FUZZ_CHECK(r.abortPort == (wordAt(reply, at + 8) & 0xffff));
                                  FUZZ_CHECK(r.maxRecvSize == wordAt(reply, at + 12));
                              });
    decodeAs<Device_ReadResp>(
        reply, routine(xdr_Device_ReadResp), [&](const Device_ReadResp& r, std::size_t at) {
            FUZZ_CHECK(holds(r.error, reply, at));
            FUZZ_CHECK(holds(r.reason, reply, at + 4));
            const std::uint32_t length = wordAt(reply, at + 8);
            FUZZ_CHECK(r.data.data_len == length && length <= VXI11_MAX_DATA);
            FUZZ_CHECK(reply.size() - at - 12 >= length);
            FUZZ_CHECK(length == 0 ||
                       std::memcmp(r.data.data_val, reply.data() + at + 12, length) == 0);
        });
    decodeAs<Device_WriteResp>(reply, routine(xdr_Device_WriteResp),
                               [&](const Device_WriteResp& r, std::size_t at) {
                                   FUZZ_CHECK(holds(r.error, reply, at));
                                   FUZZ_CHECK(r.size == wordAt(reply, at + 4));
                               });
    decodeAs<Device_Error>(
        reply, routine(xdr_Device_Error),
        [&](const Device_Error& r, std::size_t at) { FUZZ_CHECK(holds(r.error, reply, at)); });
    decodeAs<u_long>(reply, routine(xdr_u_long), [&](const u_long& port, std::size_t at) {
        FUZZ_CHECK(port == wordAt(reply, at));
    });

    receiveAsStream(reply);
    return 0;
}
