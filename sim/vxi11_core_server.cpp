#include "sim/vxi11_core_server.h"

#include "platform/lumetra/vxi11/vxi11_protocol.h"

#include <algorithm>

namespace sim {

namespace {

namespace vxi11 = lumetra::vxi11;

constexpr u_long MaxReceiveSize = 16384;
constexpr std::size_t MaxPendingInput = 4 * 1024 * 1024;

std::string success(const rpc::Call& call, xdrproc_t encoder, void* result) {
    return rpc::acceptedReply(call.xid, rpc::AcceptSuccess,
                              rpc::encode(reinterpret_cast<void*>(encoder), result));
}

std::string deviceError(const rpc::Call& call, long error) {
    Device_Error result{error};
    return success(call, reinterpret_cast<xdrproc_t>(xdr_Device_Error), &result);
}

std::string garbage(const rpc::Call& call) {
    return rpc::acceptedReply(call.xid, rpc::AcceptGarbageArguments);
}

template <typename Parameters>
bool decode(const rpc::Call& call, const std::string& record, xdrproc_t decoder,
            Parameters& parameters) {
    if (rpc::decode(record, call.argumentsOffset, reinterpret_cast<void*>(decoder), &parameters)) {
        return true;
    }
    rpc::release(reinterpret_cast<void*>(decoder), &parameters);
    return false;
}

} // namespace

void Vxi11CoreServer::bind(std::uint16_t port) {
    listener_.bind(port, false, "VXI-11");
}

void Vxi11CoreServer::applyFaults() {}

void Vxi11CoreServer::prepare(PollSet& poll) {
    listenerIndex_ = poll.add(listener_.listeningFd(), POLLIN);
    for (Connection& c : connections_) {
        c.rpc.pollIndex = poll.add(c.rpc.fd, c.rpc.pollEvents());
    }
}

void Vxi11CoreServer::handle(const PollSet& poll, SimClock::time_point now) {
    for (Connection& c : connections_) {
        if ((poll.revents(c.rpc.pollIndex) & ReadableOrGone) != 0) {
            c.rpc.receive();
        }
        c.rpc.pollIndex = -1;
    }
    if ((poll.revents(listenerIndex_) & POLLIN) != 0) {
        acceptPending(listener_.listeningFd(), [&](int fd) {
            Connection connection;
            connection.rpc.fd = fd;
            connections_.push_back(std::move(connection));
        });
    }
    for (Connection& c : connections_) {
        serveCalls(c, SimClock::now());
        c.rpc.flush();
    }
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->rpc.dead) {
            for (long id : it->links) {
                links_.erase(id);
            }
            it->rpc.close();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void Vxi11CoreServer::nextWake(std::optional<SimClock::time_point>& next,
                               SimClock::time_point) const {
    for (const Connection& c : connections_) {
        if (c.pending && c.pending->retryAt) {
            wakeAt(next, *c.pending->retryAt);
        }
    }
}

void Vxi11CoreServer::shutdown() {
    for (Connection& c : connections_) {
        c.rpc.close();
    }
    connections_.clear();
    links_.clear();
    listener_.close();
}

void Vxi11CoreServer::serveCalls(Connection& connection, SimClock::time_point now) {
    for (;;) {
        if (connection.rpc.dead) {
            return;
        }
        if (!connection.pending) {
            Pending pending;
            if (!connection.rpc.takeRecord(pending.record)) {
                return;
            }
            std::string refusal;
            const auto call = rpc::parseCall(pending.record, refusal);
            if (!call) {
                if (refusal.empty()) {
                    connection.rpc.dead = true;
                } else {
                    connection.rpc.reply(refusal);
                }
                continue;
            }
            pending.call = *call;
            pending.arrived = now;
            connection.pending = std::move(pending);
        }
        connection.pending->retryAt.reset();
        const auto reply = answer(connection, *connection.pending, now);
        if (!reply) {
            return;
        }
        connection.pending.reset();
        connection.rpc.reply(*reply);
    }
}

std::optional<std::string> Vxi11CoreServer::answer(Connection& connection, Pending& pending,
                                                   SimClock::time_point now) {
    const rpc::Call& call = pending.call;
    const std::string& record = pending.record;
    if (call.program != DEVICE_CORE) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramUnavailable);
    }
    if (call.version != DEVICE_CORE_VERSION) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramMismatch,
                                  rpc::versionRange(DEVICE_CORE_VERSION, DEVICE_CORE_VERSION));
    }
    switch (call.procedure) {
    case vxi11::ProcCreateLink:
        return createLink(connection, call, record);
    case vxi11::ProcDeviceWrite:
        return write(call, record, now);
    case vxi11::ProcDeviceRead:
        return read(pending, now);
    case vxi11::ProcDeviceClear: {
        Device_GenericParms parameters{};
        if (!decode(call, record, reinterpret_cast<xdrproc_t>(xdr_Device_GenericParms),
                    parameters)) {
            return garbage(call);
        }
        auto it = links_.find(parameters.lid);
        if (it == links_.end()) {
            return deviceError(call, vxi11::ErrorInvalidLink);
        }
        // Whatever was pending on the link, input or output, is dropped.
        it->second.input.clear();
        it->second.replies.clear();
        return deviceError(call, 0);
    }
    case vxi11::ProcDestroyLink: {
        Device_Link id = 0;
        if (!decode(call, record, reinterpret_cast<xdrproc_t>(xdr_Device_Link), id)) {
            return garbage(call);
        }
        auto owned = std::find(connection.links.begin(), connection.links.end(), id);
        if (owned == connection.links.end() || links_.erase(id) == 0) {
            return deviceError(call, vxi11::ErrorInvalidLink);
        }
        connection.links.erase(owned);
        return deviceError(call, 0);
    }
    case vxi11::ProcDeviceReadStb: {
        Device_ReadStbResp result{};
        result.error = vxi11::ErrorNotSupported;
        return success(call, reinterpret_cast<xdrproc_t>(xdr_Device_ReadStbResp), &result);
    }
    case vxi11::ProcDeviceDocmd: {
        Device_DocmdResp result{};
        result.error = vxi11::ErrorNotSupported;
        return success(call, reinterpret_cast<xdrproc_t>(xdr_Device_DocmdResp), &result);
    }
    default:
        if (call.procedure >= 14 && call.procedure <= vxi11::ProcDestroyIntrChan &&
            call.procedure != 21 && call.procedure != 24) {
            return deviceError(call, vxi11::ErrorNotSupported);
        }
        return rpc::acceptedReply(call.xid, rpc::AcceptProcedureUnavailable);
    }
}

std::string Vxi11CoreServer::createLink(Connection& connection, const rpc::Call& call,
                                        const std::string& record) {
    Create_LinkParms parameters{};
    if (!decode(call, record, reinterpret_cast<xdrproc_t>(xdr_Create_LinkParms), parameters)) {
        return garbage(call);
    }
    const std::string device = parameters.device ? parameters.device : "";
    rpc::release(reinterpret_cast<void*>(xdr_Create_LinkParms), &parameters);
    Create_LinkResp result{};
    std::size_t slot = hub_.size();
    if (device.size() > 4 && device.compare(0, 4, "inst") == 0 &&
        device.find_first_not_of("0123456789", 4) == std::string::npos && device.size() < 10) {
        slot = std::stoul(device.substr(4));
    }
    if (slot >= hub_.size()) {
        result.error = vxi11::ErrorNotAccessible;
    } else {
        const long id = nextLink_++;
        links_[id].slot = slot;
        connection.links.push_back(id);
        result.error = 0;
        result.lid = id;
        result.abortPort = 0;
        result.maxRecvSize = MaxReceiveSize;
    }
    return success(call, reinterpret_cast<xdrproc_t>(xdr_Create_LinkResp), &result);
}

std::string Vxi11CoreServer::write(const rpc::Call& call, const std::string& record,
                                   SimClock::time_point now) {
    Device_WriteParms parameters{};
    if (!decode(call, record, reinterpret_cast<xdrproc_t>(xdr_Device_WriteParms), parameters)) {
        return garbage(call);
    }
    Device_WriteResp result{};
    auto it = links_.find(parameters.lid);
    if (it == links_.end()) {
        result.error = vxi11::ErrorInvalidLink;
    } else {
        Link& link = it->second;
        link.input.append(parameters.data.data_val, parameters.data.data_len);
        result.size = parameters.data.data_len;
        // Messages end at a line feed, as on the raw socket, or at END.
        std::size_t start = 0;
        for (;;) {
            std::size_t end = link.input.find('\n', start);
            const bool last = end == std::string::npos;
            if (last && !((parameters.flags & vxi11::FlagEnd) && start < link.input.size())) {
                break;
            }
            if (last) {
                end = link.input.size();
            }
            std::string_view message(link.input.data() + start, end - start);
            if (!message.empty() && message.back() == '\r') {
                message.remove_suffix(1);
            }
            if (auto out = hub_.runMessage(link.slot, message, now)) {
                link.replies.push_back(std::move(*out));
            }
            start = last ? end : end + 1;
        }
        link.input.erase(0, start);
        if (link.input.size() > MaxPendingInput) {
            link.input.clear();
        }
    }
    rpc::release(reinterpret_cast<void*>(xdr_Device_WriteParms), &parameters);
    return success(call, reinterpret_cast<xdrproc_t>(xdr_Device_WriteResp), &result);
}

std::optional<std::string> Vxi11CoreServer::read(Pending& pending, SimClock::time_point now) {
    const rpc::Call& call = pending.call;
    Device_ReadParms parameters{};
    if (!decode(call, pending.record, reinterpret_cast<xdrproc_t>(xdr_Device_ReadParms),
                parameters)) {
        return garbage(call);
    }
    Device_ReadResp result{};
    auto it = links_.find(parameters.lid);
    if (it == links_.end()) {
        result.error = vxi11::ErrorInvalidLink;
        return success(call, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), &result);
    }
    Link& link = it->second;
    if (!link.replies.empty() && link.replies.front().due <= now) {
        return rpc::acceptedReply(
            call.xid, rpc::AcceptSuccess,
            readReply(link, static_cast<std::uint32_t>(parameters.requestSize)));
    }
    const auto deadline = pending.arrived + std::chrono::milliseconds(parameters.io_timeout);
    if (now >= deadline) {
        result.error = vxi11::ErrorIoTimeout;
        return success(call, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), &result);
    }
    pending.retryAt =
        link.replies.empty() ? deadline : std::min(deadline, link.replies.front().due);
    return std::nullopt;
}

std::string Vxi11CoreServer::readReply(Link& link, std::uint32_t requestSize) {
    Outgoing& out = link.replies.front();
    const std::size_t left = out.bytes.size() - out.sent;
    std::size_t length = std::min<std::size_t>(left, std::max<std::uint32_t>(requestSize, 1));
    const int chunk = hub_.faults().splitChunk;
    if (chunk > 0) {
        length = std::min(length, static_cast<std::size_t>(chunk));
    }
    Device_ReadResp result{};
    result.error = 0;
    result.reason = (length == left ? vxi11::ReasonEnd : 0) |
                    (length == requestSize ? vxi11::ReasonRequestCount : 0);
    result.data.data_len = static_cast<u_int>(length);
    result.data.data_val = out.bytes.data() + out.sent;
    std::string encoded = rpc::encode(reinterpret_cast<void*>(xdr_Device_ReadResp), &result);
    out.sent += length;
    if (out.sent == link.replies.front().bytes.size()) {
        link.replies.pop_front();
    }
    return encoded;
}

} // namespace sim
