#pragma once

#include "sim/poll_set.h"
#include "sim/rpc_codec.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <string>

namespace sim {

// One TCP connection carrying ONC RPC records: the VXI-11 core or abort channel, or the
// portmapper.
struct RpcConnection {
    int fd = -1;
    std::string input;
    std::string output;
    bool dead = false;
    std::ptrdiff_t pollIndex = -1;

    short pollEvents() const;
    // Reads what arrived onto `input`.
    void receive();
    // Takes the next whole call record off `input`; a stream that cannot be one makes it dead.
    bool takeRecord(std::string& record);
    // Queues a reply as one record.
    void reply(const std::string& message);
    void flush();
    void close();
};

// The connections of a server that answers each call as it comes: the portmapper and the
// VXI-11 abort channel.
using RpcConnections = std::deque<RpcConnection>;

// Reads what arrived on each connection that `poll` found readable and answers every whole
// call in it with `answer`'s reply; a record that is no call gets the refusal it calls for, or
// ends its connection.
void answerCalls(RpcConnections& connections, const PollSet& poll,
                 const std::function<std::string(const rpc::Call&, const std::string&)>& answer);
// Sends what each connection has queued; closes and drops the connections that ended.
void flushAndDropEnded(RpcConnections& connections);

} // namespace sim
