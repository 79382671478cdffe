// The simulated instrument's reading of RPC requests: records off a stream, call headers, and
// the arguments of every call it serves, decoded with rpcgen's routines. Properties: no crash,
// no leak, memory bounded by the input (run with -malloc_limit_mb); a record framed again reads
// back the same; a call's header holds the words it came from; decoded arguments hold exactly
// the values their bytes encode.
#include "fuzz/fuzz_check.h"
#include "platform/lumetra/vxi11/vxi11_protocol.h"
#include "platform/lumetra/xdr_words.h"
#include "sim/rpc_codec.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <rpc/pmap_prot.h>
#include <rpc/rpc.h>
#include <string>

namespace {

// A `long` holds its word read as signed or as unsigned: libtirpc reads it without sign
// extension. A `bool` decoded inline by rpcgen's code keeps its word as it is, not 0 or 1.
bool holds(long value, std::uint32_t word) {
    return value == static_cast<std::int32_t>(word) || value == static_cast<long>(word);
}

template <typename Routine> void* routine(Routine r) {
    return reinterpret_cast<void*>(r);
}

struct Words {
    const std::string& message;
    std::size_t offset;

    std::uint32_t at(std::size_t index) const {
        std::size_t where = offset + 4 * index;
        std::uint32_t word = 0;
        FUZZ_CHECK(lumetra::xdr::getWord(message, where, word));
        return word;
    }
    const char* bytesAfter(std::size_t index) const {
        return message.data() + offset + 4 * (index + 1);
    }
    std::size_t bytesLeftAfter(std::size_t index) const {
        return message.size() - offset - 4 * (index + 1);
    }
};

// Decodes the arguments as `Arguments`; `check` compares them with the words they came from.
template <typename Arguments, typename Check>
void decodeAs(const std::string& message, std::size_t offset, void* decoder, Check check) {
    Arguments arguments{};
    if (sim::rpc::decode(message, offset, decoder, &arguments)) {
        check(arguments, Words{message, offset});
    }
    sim::rpc::release(decoder, &arguments);
}

void checkArguments(const std::string& message, std::size_t offset) {
    decodeAs<Create_LinkParms>(
        message, offset, routine(xdr_Create_LinkParms), [](const Create_LinkParms& p, Words w) {
            FUZZ_CHECK(holds(p.clientId, w.at(0)));
            FUZZ_CHECK((p.lockDevice != 0) == (w.at(1) != 0));
            FUZZ_CHECK(p.lock_timeout == w.at(2));
            const std::uint32_t length = w.at(3);
            FUZZ_CHECK(length <= VXI11_MAX_DEVICE_NAME && length <= w.bytesLeftAfter(3));
            FUZZ_CHECK(p.device != nullptr && std::strlen(p.device) <= length);
            FUZZ_CHECK(std::memcmp(p.device, w.bytesAfter(3), std::strlen(p.device)) == 0);
        });
    decodeAs<Device_WriteParms>(
        message, offset, routine(xdr_Device_WriteParms), [](const Device_WriteParms& p, Words w) {
            FUZZ_CHECK(holds(p.lid, w.at(0)));
            FUZZ_CHECK(p.io_timeout == w.at(1));
            FUZZ_CHECK(p.lock_timeout == w.at(2));
            FUZZ_CHECK(holds(p.flags, w.at(3)));
            const std::uint32_t length = w.at(4);
            FUZZ_CHECK(p.data.data_len == length && length <= VXI11_MAX_DATA);
            FUZZ_CHECK(length <= w.bytesLeftAfter(4));
            FUZZ_CHECK(length == 0 || std::memcmp(p.data.data_val, w.bytesAfter(4), length) == 0);
        });
    decodeAs<Device_ReadParms>(
        message, offset, routine(xdr_Device_ReadParms), [](const Device_ReadParms& p, Words w) {
            FUZZ_CHECK(holds(p.lid, w.at(0)));
            FUZZ_CHECK(p.requestSize == w.at(1));
            FUZZ_CHECK(p.io_timeout == w.at(2));
            FUZZ_CHECK(p.lock_timeout == w.at(3));
            FUZZ_CHECK(holds(p.flags, w.at(4)));
            FUZZ_CHECK(static_cast<unsigned char>(p.termChar) == (w.at(5) & 0xff));
        });
    decodeAs<Device_GenericParms>(message, offset, routine(xdr_Device_GenericParms),
                                  [](const Device_GenericParms& p, Words w) {
                                      FUZZ_CHECK(holds(p.lid, w.at(0)));
                                      FUZZ_CHECK(holds(p.flags, w.at(1)));
                                      FUZZ_CHECK(p.lock_timeout == w.at(2));
                                      FUZZ_CHECK(p.io_timeout == w.at(3));
                                  });
    decodeAs<Device_Link>(
        message, offset, routine(xdr_Device_Link),
        [](const Device_Link& link, Words w) { FUZZ_CHECK(holds(link, w.at(0))); });
    decodeAs<pmap>(message, offset, routine(xdr_pmap), [](const pmap& p, Words w) {
        FUZZ_CHECK(p.pm_prog == w.at(0) && p.pm_vers == w.at(1));
        FUZZ_CHECK(p.pm_prot == w.at(2) && p.pm_port == w.at(3));
    });
}

void checkRecord(const std::string& record) {
    Words header{record, 0};
    std::string refusal;
    const auto call = sim::rpc::parseCall(record, refusal);
    if (!call) {
        if (!refusal.empty()) {
            FUZZ_CHECK(header.at(1) == 0 && header.at(2) != 2);
            FUZZ_CHECK((Words{refusal, 0}.at(0) == header.at(0)));
        }
        return;
    }
    FUZZ_CHECK(refusal.empty());
    FUZZ_CHECK(call->xid == header.at(0) && header.at(1) == 0 && header.at(2) == 2);
    FUZZ_CHECK(call->program == header.at(3) && call->version == header.at(4));
    FUZZ_CHECK(call->procedure == header.at(5));
    // Credentials and verifier: a flavour and at most 400 bytes each, padded to whole words.
    const std::uint32_t credentialsLength = header.at(7);
    FUZZ_CHECK(credentialsLength <= 400);
    const std::size_t verifierAt = 32 + (credentialsLength + 3) / 4 * 4;
    const std::uint32_t verifierLength = Words{record, verifierAt}.at(1);
    FUZZ_CHECK(verifierLength <= 400);
    FUZZ_CHECK(call->argumentsOffset == verifierAt + 8 + (verifierLength + 3) / 4 * 4);
    FUZZ_CHECK(call->argumentsOffset <= record.size());
    checkArguments(record, call->argumentsOffset);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    std::string record;
    bool bad = false;
    while (sim::rpc::takeRecord(input, record, bad)) {
        FUZZ_CHECK(!bad);
        std::string framed = sim::rpc::frameRecord(record);
        std::string again;
        FUZZ_CHECK(sim::rpc::takeRecord(framed, again, bad) && framed.empty() && again == record);
        checkRecord(record);
    }
    // A stream whose fragments announce more than a small bound is refused, whole.
    input.assign(reinterpret_cast<const char*>(data), size);
    std::size_t taken = 0;
    while (sim::rpc::takeRecord(input, record, bad, 64)) {
        FUZZ_CHECK(!bad && record.size() <= 64);
        taken += record.size();
    }
    FUZZ_CHECK(taken <= size);
    // A datagram is one message without record marks.
    checkRecord(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
