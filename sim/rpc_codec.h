#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sim::rpc {

// ONC RPC over streams (record marking) and datagrams, just enough for a small server.

inline constexpr std::uint32_t AcceptSuccess = 0;
inline constexpr std::uint32_t AcceptProgramUnavailable = 1;
inline constexpr std::uint32_t AcceptProgramMismatch = 2;
inline constexpr std::uint32_t AcceptProcedureUnavailable = 3;
inline constexpr std::uint32_t AcceptGarbageArguments = 4;

// Takes one whole record off the front of a stream's input. Returns false when none is complete
// yet; sets `bad` when the input cannot be a record stream (a fragment beyond `maxRecord`).
bool takeRecord(std::string& input, std::string& record, bool& bad,
                std::size_t maxRecord = 64u << 20);
// A record as one last fragment.
std::string frameRecord(const std::string& payload);

struct Call {
    std::uint32_t xid = 0;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t procedure = 0;
    std::size_t argumentsOffset = 0; // where the arguments start in the message
};

// Parses a call message. On a message that is not a call, no value and an empty `refusal`; on a
// call of another RPC version, no value and the refusal to send back.
std::optional<Call> parseCall(const std::string& message, std::string& refusal);

// A reply that accepted the call with `status`, followed by the encoded results (only for
// AcceptSuccess). For AcceptProgramMismatch the results are the low and high versions.
std::string acceptedReply(std::uint32_t xid, std::uint32_t status, const std::string& results = {});
std::string versionRange(std::uint32_t low, std::uint32_t high);

// XDR with the routines rpcgen made: `encoder` is an xdrproc_t.
bool decode(const std::string& message, std::size_t offset, void* decoder, void* object);
std::string encode(void* encoder, void* object);
void release(void* decoder, void* object);

} // namespace sim::rpc
