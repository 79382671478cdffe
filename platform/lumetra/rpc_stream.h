#pragma once

#include "platform/lumetra/net_util.h"
#include "platform/lumetra/transport.h"

#include <cstdint>
#include <rpc/xdr.h>
#include <string>

namespace lumetra {

// ONC RPC calls on a connected TCP socket that the caller owns. A call is one send and, as a
// rule, one receive: the record mark, call header and arguments (through rpcgen's XDR routines)
// go out in one piece, and the reply is taken from a pending buffer of what has arrived. A reply
// record longer than the bound given is refused before anything is reserved for it; sending
// never raises SIGPIPE. Errors are lumetra::Error; after any error the stream may hold half a
// record and must not be used again.
class RpcStream {
public:
    RpcStream(int fd, std::uint32_t program, std::uint32_t version, std::size_t maxReplyBytes);

    // Calls `procedure` with `arguments` and decodes the results into `results`, which the
    // caller hands to release() once done with them. Waits no longer than the deadline allows,
    // which moves on as bytes arrive. `what` names the call in errors, `where` the peer.
    void call(std::uint32_t procedure, xdrproc_t encode, const void* arguments, xdrproc_t decode,
              void* results, IoDeadline& deadline, const std::string& what,
              const std::string& where);

    // The same in three steps, so that several calls go out in one send before their replies
    // are waited for: queue() encodes a call and returns its id, sendQueued() sends every call
    // queued, receive() decodes the reply to one of them, skipping replies to earlier ones.
    std::uint32_t queue(std::uint32_t procedure, xdrproc_t encode, const void* arguments,
                        const std::string& what, const std::string& where);
    void sendQueued(IoDeadline& deadline, const std::string& what, const std::string& where);
    void receive(std::uint32_t xid, xdrproc_t decode, void* results, IoDeadline& deadline,
                 const std::string& what, const std::string& where);

    static void release(xdrproc_t decode, void* results);

private:
    std::string receiveRecord(IoDeadline& deadline, const std::string& what,
                              const std::string& where);

    int fd_;
    std::uint32_t program_;
    std::uint32_t version_;
    std::size_t maxReplyBytes_;
    std::uint32_t nextXid_;
    std::string queued_;  // calls encoded, not sent yet
    std::string pending_; // bytes received, not taken yet
    net::ReceiveBound receiveBound_;
};

// Decodes one reply record to the call with id `xid` into `results`. Returns false for a reply
// to another call; throws lumetra::Error for a refusal or a reply that cannot be decoded (then
// nothing is left to release).
bool takeReply(const std::string& reply, std::uint32_t xid, xdrproc_t decode, void* results,
               const std::string& what, const std::string& where);

} // namespace lumetra
