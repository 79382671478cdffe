#include "platform/lumetra/rpc_stream.h"

#include "platform/lumetra/xdr_words.h"

#include <cerrno>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumetra {

namespace {

constexpr std::uint32_t MessageCall = 0;
constexpr std::uint32_t MessageReply = 1;
constexpr std::uint32_t RpcVersion = 2;
constexpr std::uint32_t ReplyAccepted = 0;
constexpr std::uint32_t LastFragment = 0x80000000u;
constexpr std::size_t CallHeaderBytes = 40;

enum AcceptStatus : std::uint32_t {
    Success = 0,
    ProgramUnavailable = 1,
    ProgramMismatch = 2,
    ProcedureUnavailable = 3,
};

[[noreturn]] void lost(const std::string& text, int error) {
    throw Error(status::ErrorConnectionLost, text + net::errnoText(error));
}

} // namespace

RpcStream::RpcStream(int fd, std::uint32_t program, std::uint32_t version,
                     std::size_t maxReplyBytes)
    : fd_(fd), program_(program), version_(version), maxReplyBytes_(maxReplyBytes),
      nextXid_(static_cast<std::uint32_t>(::getpid()) * 2654435761u ^
               static_cast<std::uint32_t>(Clock::now().time_since_epoch().count())) {}

void RpcStream::release(xdrproc_t decode, void* results) {
    ::xdr_free(decode, static_cast<char*>(results));
}

void RpcStream::call(std::uint32_t procedure, xdrproc_t encode, const void* arguments,
                     xdrproc_t decode, void* results, IoDeadline& deadline, const std::string& what,
                     const std::string& where) {
    const std::uint32_t xid = queue(procedure, encode, arguments, what, where);
    sendQueued(deadline, what, where);
    receive(xid, decode, results, deadline, what, where);
}

std::uint32_t RpcStream::queue(std::uint32_t procedure, xdrproc_t encode, const void* arguments,
                               const std::string& what, const std::string& where) {
    void* argumentsForXdr = const_cast<void*>(arguments);
    const unsigned long argumentBytes = ::xdr_sizeof(encode, argumentsForXdr);
    const std::uint32_t xid = nextXid_++;
    const std::size_t recordStart = queued_.size();
    queued_.reserve(recordStart + 4 + CallHeaderBytes + argumentBytes);
    xdr::putWord(queued_,
                 LastFragment | static_cast<std::uint32_t>(CallHeaderBytes + argumentBytes));
    for (std::uint32_t word : {xid, MessageCall, RpcVersion, program_, version_, procedure,
                               std::uint32_t(AUTH_NONE), 0u, std::uint32_t(AUTH_NONE), 0u}) {
        xdr::putWord(queued_, word);
    }
    const std::size_t headerEnd = queued_.size();
    queued_.resize(headerEnd + argumentBytes);
    XDR encoder;
    ::xdrmem_create(&encoder, queued_.data() + headerEnd, static_cast<u_int>(argumentBytes),
                    XDR_ENCODE);
    const bool encoded = encode(&encoder, argumentsForXdr);
    xdr_destroy(&encoder);
    if (!encoded) {
        throw Error(status::ErrorIo, "cannot encode " + what + " for " + where);
    }
    return xid;
}

void RpcStream::receive(std::uint32_t xid, xdrproc_t decode, void* results, IoDeadline& deadline,
                        const std::string& what, const std::string& where) {
    while (!takeReply(receiveRecord(deadline, what, where), xid, decode, results, what, where)) {
        // the late answer to an earlier call
    }
}

bool takeReply(const std::string& reply, std::uint32_t xid, xdrproc_t decode, void* results,
               const std::string& what, const std::string& where) {
    std::size_t offset = 0;
    std::uint32_t replyXid = 0;
    std::uint32_t type = 0;
    std::uint32_t replyStatus = 0;
    std::uint32_t acceptStatus = 0;
    if (!xdr::getWord(reply, offset, replyXid) || !xdr::getWord(reply, offset, type) ||
        type != MessageReply) {
        lost("the reply to " + what + " from " + where + " is no RPC reply", 0);
    }
    if (replyXid != xid) {
        return false;
    }
    if (!xdr::getWord(reply, offset, replyStatus) || replyStatus != ReplyAccepted) {
        throw Error(status::ErrorIo, what + " to " + where + " was refused by the RPC server");
    }
    if (!xdr::skipOpaqueAuth(reply, offset) || !xdr::getWord(reply, offset, acceptStatus)) {
        lost("the reply to " + what + " from " + where + " is cut short", 0);
    }
    if (acceptStatus == ProgramUnavailable || acceptStatus == ProgramMismatch ||
        acceptStatus == ProcedureUnavailable) {
        throw Error(status::ErrorResourceNotFound,
                    what + " to " + where + " failed: the server does not offer it");
    }
    if (acceptStatus != Success) {
        throw Error(status::ErrorIo, what + " to " + where + " failed: arguments refused");
    }
    XDR decoder;
    ::xdrmem_create(&decoder, const_cast<char*>(reply.data() + offset),
                    static_cast<u_int>(reply.size() - offset), XDR_DECODE);
    const bool decoded = decode(&decoder, results);
    xdr_destroy(&decoder);
    if (!decoded) {
        RpcStream::release(decode, results);
        lost("the reply to " + what + " from " + where + " cannot be decoded", 0);
    }
    return true;
}

void RpcStream::sendQueued(IoDeadline& deadline, const std::string& what,
                           const std::string& where) {
    std::string record;
    record.swap(queued_);
    std::size_t sent = 0;
    const int error = net::writeAll(fd_, net::Descriptor::Socket, record, deadline, sent);
    if (error == ETIMEDOUT) {
        throw Error(status::ErrorTimeout, "timeout while sending " + what + " to " + where);
    }
    if (error != 0) {
        lost("sending " + what + " to " + where + " failed", error);
    }
}

std::string RpcStream::receiveRecord(IoDeadline& deadline, const std::string& what,
                                     const std::string& where) {
    std::string record;
    std::size_t offset = 0; // where the next fragment's mark is in pending_
    for (;;) {
        // Take whole fragments off the pending bytes.
        while (pending_.size() - offset >= 4) {
            std::uint32_t mark = 0;
            std::size_t at = offset;
            xdr::getWord(pending_, at, mark);
            const std::size_t length = mark & ~LastFragment;
            if (length > maxReplyBytes_ - std::min(record.size(), maxReplyBytes_)) {
                throw Error(status::ErrorIo, "the reply to " + what + " from " + where +
                                                 " announces more than " +
                                                 std::to_string(maxReplyBytes_) + " bytes");
            }
            if (pending_.size() - at < length) {
                break;
            }
            record.append(pending_, at, length);
            offset = at + length;
            if (mark & LastFragment) {
                pending_.erase(0, offset);
                return record;
            }
        }
        if (!receiveBound_.apply(fd_, deadline.due())) {
            throw Error(status::ErrorTimeout,
                        "timeout while waiting for the reply to " + what + " from " + where);
        }
        char buffer[65536];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            pending_.append(buffer, static_cast<std::size_t>(n));
            deadline.progress();
        } else if (n == 0) {
            lost("the instrument closed the connection (" + where + ")", 0);
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            lost("receiving the reply to " + what + " from " + where + " failed", errno);
        }
    }
}

} // namespace lumetra
