#include "sim/vxi11_core_server.h"

#include "platform/lumetra/vxi11/vxi11_protocol.h"

#include <algorithm>

namespace sim {

namespace {

namespace vxi11 = lumetra::vxi11;

constexpr u_long MaxReceiveSize = 16384;
constexpr std::size_t MaxPendingInput = 4 * 1024 * 1024;
constexpr auto RebindRetry = std::chrono::milliseconds(100);

std::string success(const rpc::Call& call, xdrproc_t encoder, void* result) {
    return rpc::acceptedReply(call.xid, rpc::AcceptSuccess,
                              rpc::encode(reinterpret_cast<void*>(encoder), result));
}

template <typename Result> std::string success(const rpc::Call& call, Result& result);

template <> std::string success(const rpc::Call& call, Device_Error& result) {
    return success(call, reinterpret_cast<xdrproc_t>(xdr_Device_Error), &result);
}
template <> std::string success(const rpc::Call& call, Create_LinkResp& result) {
    return success(call, reinterpret_cast<xdrproc_t>(xdr_Create_LinkResp), &result);
}
template <> std::string success(const rpc::Call& call, Device_WriteResp& result) {
    return success(call, reinterpret_cast<xdrproc_t>(xdr_Device_WriteResp), &result);
}
template <> std::string success(const rpc::Call& call, Device_ReadResp& result) {
    return success(call, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), &result);
}
template <> std::string success(const rpc::Call& call, Device_ReadStbResp& result) {
    return success(call, reinterpret_cast<xdrproc_t>(xdr_Device_ReadStbResp), &result);
}
template <> std::string success(const rpc::Call& call, Device_DocmdResp& result) {
    return success(call, reinterpret_cast<xdrproc_t>(xdr_Device_DocmdResp), &result);
}

// The reply that fails a call with `error`, in the result type of its procedure.
std::string errorReply(const rpc::Call& call, long error) {
    switch (call.procedure) {
    case vxi11::ProcCreateLink: {
        Create_LinkResp result{};
        result.error = error;
        return success(call, result);
    }
    case vxi11::ProcDeviceWrite: {
        Device_WriteResp result{};
        result.error = error;
        return success(call, result);
    }
    case vxi11::ProcDeviceRead: {
        Device_ReadResp result{};
        result.error = error;
        return success(call, result);
    }
    case vxi11::ProcDeviceReadStb: {
        Device_ReadStbResp result{};
        result.error = error;
        return success(call, result);
    }
    case vxi11::ProcDeviceDocmd: {
        Device_DocmdResp result{};
        result.error = error;
        return success(call, result);
    }
    default: {
        Device_Error result{error};
        return success(call, result);
    }
    }
}

std::string garbage(const rpc::Call& call) {
    return rpc::acceptedReply(call.xid, rpc::AcceptGarbageArguments);
}

template <typename Parameters>
bool decodeArguments(const rpc::Call& call, const std::string& record, xdrproc_t decoder,
                     Parameters& parameters) {
    if (rpc::decode(record, call.argumentsOffset, reinterpret_cast<void*>(decoder), &parameters)) {
        return true;
    }
    rpc::release(reinterpret_cast<void*>(decoder), &parameters);
    return false;
}

// Frees what XDR allocated for a call's arguments when it goes out of scope.
template <typename Parameters> class Decoded {
public:
    Decoded(const rpc::Call& call, const std::string& record, xdrproc_t decoder)
        : decoder_(decoder), ok_(decodeArguments(call, record, decoder, value)) {}
    ~Decoded() {
        if (ok_) {
            rpc::release(reinterpret_cast<void*>(decoder_), &value);
        }
    }
    Decoded(const Decoded&) = delete;
    Decoded& operator=(const Decoded&) = delete;
    explicit operator bool() const { return ok_; }

    Parameters value{};

private:
    xdrproc_t decoder_;
    bool ok_;
};

std::chrono::milliseconds millis(unsigned long value) {
    return std::chrono::milliseconds(static_cast<long long>(value));
}

} // namespace

void Vxi11CoreServer::bind(std::uint16_t port) {
    listener_.bind(port, hub_.faults().refusing, "VXI-11");
    lockOwner_.assign(hub_.size(), 0);
}

void Vxi11CoreServer::applyFaults() {
    listener_.setRefusing(hub_.faults().refusing);
    const int limit = hub_.faults().closeAfter;
    for (Connection& c : connections_) {
        if (limit > 0 && c.messages >= limit) {
            c.closing = true;
        }
    }
}

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
    serveAll(now);
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->closing && !it->pending && it->rpc.output.empty() && !hasReplies(*it)) {
            it->rpc.dead = true;
        }
        if (it->rpc.dead) {
            for (long id : it->links) {
                if (const Link* link = findLink(id)) {
                    logEvent(*link, it->closing ? "connection closed after its last message"
                                                : "link lost with its connection");
                }
                releaseLock(id);
                links_.erase(id);
            }
            it->rpc.close();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
    // A lock given up by a connection that went away may let a waiting call go on.
    if (lockReleased_) {
        serveAll(now);
    }
}

void Vxi11CoreServer::serveAll(SimClock::time_point now) {
    do {
        lockReleased_ = false;
        for (Connection& c : connections_) {
            serveCalls(c, now);
            c.rpc.flush();
        }
    } while (lockReleased_);
}

void Vxi11CoreServer::nextWake(std::optional<SimClock::time_point>& next,
                               SimClock::time_point now) const {
    for (const Connection& c : connections_) {
        if (c.pending && c.pending->retryAt) {
            wakeAt(next, *c.pending->retryAt);
        }
        if (c.closing && !c.pending && c.rpc.output.empty() && !hasReplies(c)) {
            wakeAt(next, now); // to close it
        }
    }
    if (listener_.isBound() && listener_.needsRetry(hub_.faults().refusing)) {
        wakeAt(next, now + RebindRetry);
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

bool Vxi11CoreServer::abort(long link, SimClock::time_point now) {
    if (links_.find(link) == links_.end()) {
        return false;
    }
    for (Connection& c : connections_) {
        if (c.pending && c.pending->link == link) {
            logEvent(links_.at(link), "device_abort ended the call in progress");
            c.rpc.reply(errorReply(c.pending->call, vxi11::ErrorAbort));
            c.pending.reset();
            serveCalls(c, now);
            c.rpc.flush();
        }
    }
    return true;
}

void Vxi11CoreServer::serveCalls(Connection& connection, SimClock::time_point now) {
    for (;;) {
        if (connection.rpc.dead) {
            return;
        }
        if (!connection.pending) {
            Pending pending;
            // A closing connection still serves the reads of replies it has to deliver.
            if ((connection.closing && !hasReplies(connection)) ||
                !connection.rpc.takeRecord(pending.record)) {
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

bool Vxi11CoreServer::hasReplies(const Connection& connection) const {
    return std::any_of(connection.links.begin(), connection.links.end(), [&](long id) {
        auto it = links_.find(id);
        return it != links_.end() && !it->second.replies.empty();
    });
}

void Vxi11CoreServer::logEvent(const Link& link, std::string_view text) {
    hub_.logEvent(link.slot, link.name, text);
}

Vxi11CoreServer::Link* Vxi11CoreServer::findLink(long id) {
    auto it = links_.find(id);
    return it == links_.end() ? nullptr : &it->second;
}

Vxi11CoreServer::Link* Vxi11CoreServer::admit(Pending& pending, long id, long flags,
                                              unsigned long lockTimeout, SimClock::time_point now,
                                              std::optional<std::string>& refusal) {
    pending.link = id;
    Link* link = findLink(id);
    if (link == nullptr) {
        refusal = errorReply(pending.call, vxi11::ErrorInvalidLink);
        return nullptr;
    }
    const long owner = lockOwner_.at(link->slot);
    if (owner == 0 || owner == id) {
        return link;
    }
    const auto until = pending.arrived + millis(lockTimeout);
    if ((flags & vxi11::FlagWaitLock) != 0 && now < until) {
        pending.retryAt = until;
        refusal.reset(); // the call waits for the lock
        return nullptr;
    }
    refusal = errorReply(pending.call, vxi11::ErrorDeviceLocked);
    return nullptr;
}

void Vxi11CoreServer::releaseLock(long id) {
    for (long& owner : lockOwner_) {
        if (owner == id) {
            owner = 0;
            lockReleased_ = true;
        }
    }
}

std::optional<std::string> Vxi11CoreServer::answer(Connection& connection, Pending& pending,
                                                   SimClock::time_point now) {
    const rpc::Call& call = pending.call;
    if (call.program != DEVICE_CORE) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramUnavailable);
    }
    if (call.version != DEVICE_CORE_VERSION) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramMismatch,
                                  rpc::versionRange(DEVICE_CORE_VERSION, DEVICE_CORE_VERSION));
    }
    switch (call.procedure) {
    case vxi11::ProcCreateLink:
        return createLink(connection, pending, now);
    case vxi11::ProcDeviceWrite:
        return write(connection, pending, now);
    case vxi11::ProcDeviceRead:
        return read(pending, now);
    case vxi11::ProcDeviceReadStb:
    case vxi11::ProcDeviceTrigger:
    case vxi11::ProcDeviceClear:
        return generic(pending, now);
    case vxi11::ProcDeviceLock:
        return lock(pending, now);
    case vxi11::ProcDeviceUnlock:
        return unlock(pending);
    case vxi11::ProcDestroyLink:
        return destroyLink(connection, pending);
    default:
        if (call.procedure >= 14 && call.procedure <= vxi11::ProcDestroyIntrChan &&
            call.procedure != 21 && call.procedure != 24) {
            return errorReply(call, vxi11::ErrorNotSupported);
        }
        return rpc::acceptedReply(call.xid, rpc::AcceptProcedureUnavailable);
    }
}

std::optional<std::string> Vxi11CoreServer::createLink(Connection& connection, Pending& pending,
                                                       SimClock::time_point now) {
    const rpc::Call& call = pending.call;
    Decoded<Create_LinkParms> parameters(call, pending.record,
                                         reinterpret_cast<xdrproc_t>(xdr_Create_LinkParms));
    if (!parameters) {
        return garbage(call);
    }
    const std::string device = parameters.value.device ? parameters.value.device : "";
    std::size_t slot = hub_.size();
    if (device.size() > 4 && device.compare(0, 4, "inst") == 0 &&
        device.find_first_not_of("0123456789", 4) == std::string::npos && device.size() < 10) {
        slot = std::stoul(device.substr(4));
    }
    if (slot >= hub_.size()) {
        return errorReply(call, vxi11::ErrorNotAccessible);
    }
    if (parameters.value.lockDevice && lockOwner_[slot] != 0) {
        // A link that asks for the lock at once waits for it as long as it said.
        const auto until = pending.arrived + millis(parameters.value.lock_timeout);
        if (now < until) {
            pending.retryAt = until;
            return std::nullopt;
        }
        return errorReply(call, vxi11::ErrorDeviceLocked);
    }
    const long id = nextLink_++;
    Link& link = links_[id];
    link.slot = slot;
    link.name = "vxi11:" + std::to_string(id);
    connection.links.push_back(id);
    if (parameters.value.lockDevice) {
        lockOwner_[slot] = id;
    }
    logEvent(link, "link created to " + device + (parameters.value.lockDevice ? ", locked" : ""));
    Create_LinkResp result{};
    result.error = 0;
    result.lid = id;
    result.abortPort = abortPort_;
    result.maxRecvSize = MaxReceiveSize;
    return success(call, result);
}

std::optional<std::string> Vxi11CoreServer::write(Connection& connection, Pending& pending,
                                                  SimClock::time_point now) {
    const rpc::Call& call = pending.call;
    Decoded<Device_WriteParms> parameters(call, pending.record,
                                          reinterpret_cast<xdrproc_t>(xdr_Device_WriteParms));
    if (!parameters) {
        return garbage(call);
    }
    const Device_WriteParms& p = parameters.value;
    std::optional<std::string> refusal;
    Link* link = admit(pending, p.lid, p.flags, p.lock_timeout, now, refusal);
    if (link == nullptr) {
        return refusal;
    }
    link->input.append(p.data.data_val, p.data.data_len);
    // Messages end at a line feed, as on the raw socket, or at END.
    std::size_t start = 0;
    const int limit = hub_.faults().closeAfter;
    while (!connection.closing) {
        std::size_t end = link->input.find('\n', start);
        const bool last = end == std::string::npos;
        if (last && !((p.flags & vxi11::FlagEnd) && start < link->input.size())) {
            break;
        }
        if (last) {
            end = link->input.size();
        }
        std::string_view message(link->input.data() + start, end - start);
        if (!message.empty() && message.back() == '\r') {
            message.remove_suffix(1);
        }
        if (auto out = hub_.runMessage(link->slot, link->name, message, now)) {
            link->replies.push_back(std::move(*out));
        }
        if (!hub_.muted()) {
            ++connection.messages;
            // Like the raw socket, the connection goes once it carried its last message.
            connection.closing = limit > 0 && connection.messages >= limit;
        }
        start = last ? end : end + 1;
    }
    if (connection.closing) {
        link->input.clear();
    } else {
        link->input.erase(0, start);
        if (link->input.size() > MaxPendingInput) {
            link->input.clear();
        }
    }
    Device_WriteResp result{};
    result.error = 0;
    result.size = p.data.data_len;
    return success(call, result);
}

std::optional<std::string> Vxi11CoreServer::read(Pending& pending, SimClock::time_point now) {
    const rpc::Call& call = pending.call;
    Decoded<Device_ReadParms> parameters(call, pending.record,
                                         reinterpret_cast<xdrproc_t>(xdr_Device_ReadParms));
    if (!parameters) {
        return garbage(call);
    }
    const Device_ReadParms& p = parameters.value;
    std::optional<std::string> refusal;
    Link* link = admit(pending, p.lid, p.flags, p.lock_timeout, now, refusal);
    if (link == nullptr) {
        return refusal;
    }
    if (!link->replies.empty() && link->replies.front().due <= now) {
        return rpc::acceptedReply(call.xid, rpc::AcceptSuccess,
                                  readReply(*link, static_cast<std::uint32_t>(p.requestSize)));
    }
    const auto deadline = pending.arrived + millis(p.io_timeout);
    if (now >= deadline) {
        logEvent(*link, "device_read timed out");
        return errorReply(call, vxi11::ErrorIoTimeout);
    }
    pending.retryAt =
        link->replies.empty() ? deadline : std::min(deadline, link->replies.front().due);
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
    if (out.sent == out.bytes.size()) {
        link.replies.pop_front();
    }
    return encoded;
}

// device_readstb, device_trigger and device_clear: the calls that take Device_GenericParms.
std::optional<std::string> Vxi11CoreServer::generic(Pending& pending, SimClock::time_point now) {
    const rpc::Call& call = pending.call;
    Decoded<Device_GenericParms> parameters(call, pending.record,
                                            reinterpret_cast<xdrproc_t>(xdr_Device_GenericParms));
    if (!parameters) {
        return garbage(call);
    }
    const Device_GenericParms& p = parameters.value;
    std::optional<std::string> refusal;
    Link* link = admit(pending, p.lid, p.flags, p.lock_timeout, now, refusal);
    if (link == nullptr) {
        return refusal;
    }
    if (call.procedure == vxi11::ProcDeviceReadStb) {
        Device_ReadStbResp result{};
        result.error = 0;
        result.stb = static_cast<u_char>(
            hub_.statusByte(link->slot, now, /*messageAvailable=*/!link->replies.empty()));
        logEvent(*link, "device_readstb: " + std::to_string(result.stb));
        return success(call, result);
    }
    if (call.procedure == vxi11::ProcDeviceTrigger) {
        logEvent(*link, "device_trigger");
        if (auto out = hub_.runMessage(link->slot, link->name, "*TRG", now)) {
            link->replies.push_back(std::move(*out));
        }
    } else {
        // Whatever was pending on the link, input or output, is dropped.
        logEvent(*link, link->replies.empty()
                            ? "device_clear"
                            : "device_clear dropped " + std::to_string(link->replies.size()) +
                                  " unread " + (link->replies.size() == 1 ? "reply" : "replies"));
        link->input.clear();
        link->replies.clear();
    }
    return errorReply(call, 0);
}

std::optional<std::string> Vxi11CoreServer::lock(Pending& pending, SimClock::time_point now) {
    const rpc::Call& call = pending.call;
    Decoded<Device_LockParms> parameters(call, pending.record,
                                         reinterpret_cast<xdrproc_t>(xdr_Device_LockParms));
    if (!parameters) {
        return garbage(call);
    }
    const Device_LockParms& p = parameters.value;
    std::optional<std::string> refusal;
    Link* link = admit(pending, p.lid, p.flags, p.lock_timeout, now, refusal);
    if (link == nullptr) {
        return refusal;
    }
    lockOwner_[link->slot] = p.lid;
    logEvent(*link, "device_lock: locked");
    return errorReply(call, 0);
}

std::string Vxi11CoreServer::unlock(Pending& pending) {
    const rpc::Call& call = pending.call;
    Device_Link id = 0;
    if (!decodeArguments(call, pending.record, reinterpret_cast<xdrproc_t>(xdr_Device_Link), id)) {
        return garbage(call);
    }
    Link* link = findLink(id);
    if (link == nullptr) {
        return errorReply(call, vxi11::ErrorInvalidLink);
    }
    if (lockOwner_[link->slot] != id) {
        return errorReply(call, vxi11::ErrorNoLockHeld);
    }
    releaseLock(id);
    logEvent(*link, "device_unlock: unlocked");
    return errorReply(call, 0);
}

std::string Vxi11CoreServer::destroyLink(Connection& connection, Pending& pending) {
    const rpc::Call& call = pending.call;
    Device_Link id = 0;
    if (!decodeArguments(call, pending.record, reinterpret_cast<xdrproc_t>(xdr_Device_Link), id)) {
        return garbage(call);
    }
    auto owned = std::find(connection.links.begin(), connection.links.end(), id);
    const Link* link = findLink(id);
    if (owned == connection.links.end() || link == nullptr) {
        return errorReply(call, vxi11::ErrorInvalidLink);
    }
    logEvent(*link, "link destroyed");
    links_.erase(id);
    connection.links.erase(owned);
    releaseLock(id);
    return errorReply(call, 0);
}

} // namespace sim
