#include "sim/vxi11_abort_server.h"

#include "platform/lumetra/vxi11/vxi11_protocol.h"
#include "sim/rpc_codec.h"
#include "sim/vxi11_core_server.h"

namespace sim {

namespace {

namespace vxi11 = lumetra::vxi11;

constexpr auto RebindRetry = std::chrono::milliseconds(100);

std::string answer(Vxi11CoreServer& core, const rpc::Call& call, const std::string& record,
                   SimClock::time_point now) {
    if (call.program != DEVICE_ASYNC) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramUnavailable);
    }
    if (call.version != DEVICE_ASYNC_VERSION) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramMismatch,
                                  rpc::versionRange(DEVICE_ASYNC_VERSION, DEVICE_ASYNC_VERSION));
    }
    if (call.procedure != vxi11::ProcDeviceAbort) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProcedureUnavailable);
    }
    Device_Link link = 0;
    if (!rpc::decode(record, call.argumentsOffset, reinterpret_cast<void*>(xdr_Device_Link),
                     &link)) {
        return rpc::acceptedReply(call.xid, rpc::AcceptGarbageArguments);
    }
    Device_Error result{core.abort(link, now) ? 0 : vxi11::ErrorInvalidLink};
    return rpc::acceptedReply(call.xid, rpc::AcceptSuccess,
                              rpc::encode(reinterpret_cast<void*>(xdr_Device_Error), &result));
}

} // namespace

void Vxi11AbortServer::bind(bool refusing) {
    listener_.bind(0, refusing, "the VXI-11 abort channel");
}

void Vxi11AbortServer::applyFaults(bool refusing) {
    listener_.setRefusing(refusing);
}

void Vxi11AbortServer::prepare(PollSet& poll) {
    listenerIndex_ = poll.add(listener_.listeningFd(), POLLIN);
    for (RpcConnection& c : connections_) {
        c.pollIndex = poll.add(c.fd, c.pollEvents());
    }
}

void Vxi11AbortServer::handle(const PollSet& poll, SimClock::time_point now) {
    answerCalls(connections_, poll, [&](const rpc::Call& call, const std::string& record) {
        return answer(core_, call, record, now);
    });
    if ((poll.revents(listenerIndex_) & POLLIN) != 0) {
        acceptPending(listener_.listeningFd(), [&](int fd) {
            RpcConnection connection;
            connection.fd = fd;
            connections_.push_back(std::move(connection));
        });
    }
    flushAndDropEnded(connections_);
}

void Vxi11AbortServer::nextWake(std::optional<SimClock::time_point>& next, SimClock::time_point now,
                                bool refusing) const {
    if (listener_.isBound() && listener_.needsRetry(refusing)) {
        wakeAt(next, now + RebindRetry);
    }
}

void Vxi11AbortServer::shutdown() {
    for (RpcConnection& c : connections_) {
        c.close();
    }
    connections_.clear();
    listener_.close();
}

} // namespace sim
