#include "sim/scope_server.h"

#include "platform/lumetra/vxi11/vxi11_protocol.h"
#include "sim/instrument.h"
#include "sim/rpc_codec.h"
#include "sim/traffic_log.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <rpc/pmap_prot.h>
#include <rpc/rpc.h>
#include <stdexcept>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

namespace vxi11 = lumetra::vxi11;

// Takes every connection waiting on a listening socket, non-blocking and without Nagle's delay.
template <typename OnAccepted> void acceptPending(int listenFd, OnAccepted&& onAccepted) {
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        onAccepted(fd);
    }
}

constexpr std::size_t MaxPendingInput = 4 * 1024 * 1024;
constexpr auto ChunkGap = std::chrono::milliseconds(1);
constexpr auto RebindRetry = std::chrono::milliseconds(100);

// A socket of `type` bound to `address`:port, and with `boundPort` the port it got; -1 with
// errno set when it cannot be bound.
int bindSocket(int type, in_addr_t address, std::uint16_t port,
               std::uint16_t* boundPort = nullptr) {
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    if (boundPort != nullptr) {
        socklen_t length = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
        *boundPort = ntohs(addr.sin_port);
    }
    return fd;
}

// A TCP socket bound to 127.0.0.1:port but not listening, so that connects to it are refused
// while the port stays ours.
int bindLoopback(std::uint16_t port, std::uint16_t* boundPort = nullptr) {
    return bindSocket(SOCK_STREAM, INADDR_LOOPBACK, port, boundPort);
}

// A socket of `type` bound to port on every address (the portmapper), listening if it is TCP.
int bindAnyAddress(int type, std::uint16_t port) {
    const int fd = bindSocket(type, INADDR_ANY, port);
    if (fd >= 0 && type == SOCK_STREAM && ::listen(fd, SOMAXCONN) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

constexpr u_long VxiMaxRecvSize = 16384;

struct Outgoing {
    SimClock::time_point due;
    std::string bytes;
    std::size_t sent = 0;
};

struct Connection {
    int fd = -1;
    bool tty = false; // the simulator's end of its pseudo-terminal: never closed while serving
    std::size_t slot = 0;
    std::string input;
    std::deque<Outgoing> output;
    int messages = 0;
    bool closing = false; // closed once its output is sent
    bool dead = false;
    bool blocked = false; // the last send would have blocked: wait for POLLOUT
    SimClock::time_point nextChunkAt{};
};

struct VxiLink {
    std::size_t slot = 0;
    std::string input; // bytes of a message not ended yet
    std::deque<Outgoing> replies;
};

struct ParkedRead {
    std::uint32_t xid = 0;
    long link = 0;
    std::uint32_t requestSize = 0;
    SimClock::time_point deadline{};
};

// One TCP connection carrying ONC RPC: the VXI-11 core channel or the portmapper.
struct RpcConnection {
    int fd = -1;
    bool portmapper = false;
    std::string input;
    std::string output;
    bool dead = false;
    std::optional<ParkedRead> parked; // a device_read waiting for its reply or its timeout
    std::vector<long> links;
};

struct Slot {
    std::unique_ptr<Instrument> instrument;
    TrafficLog log;
    std::uint16_t port = 0;
    int fd = -1;
    bool listening = false;
};

} // namespace

struct ScopeServer::Impl {
    explicit Impl(SimConfig c) : config(std::move(c)) {
        muted = config.faults.muted;
        refusing = config.faults.refusing;
        triggerNever = config.triggerNever;
        replyDelayMs = config.faults.replyDelay.count();
        closeAfter = config.faults.closeAfterMessages;
        malformedNth = config.faults.malformedReply;
        splitChunk = config.faults.splitReplyChunk;
    }

    ~Impl() {
        closeRpc();
        if (ptyKeepOpen >= 0) {
            ::close(ptyKeepOpen);
        }
        for (Connection& c : connections) {
            ::close(c.fd);
        }
        for (Slot& s : slots) {
            if (s.fd >= 0) {
                ::close(s.fd);
            }
        }
        for (int fd : wakePipe) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    void bindAll();
    void serve();
    void wake() const;
    void requestApply();
    void applyFaults();
    void acceptOn(std::size_t slotIndex);
    void readFrom(Connection& connection, SimClock::time_point now);
    void handleMessage(Connection& connection, std::string_view message, SimClock::time_point now);
    std::optional<Outgoing> runMessage(std::size_t slotIndex, std::string_view message,
                                       SimClock::time_point now);
    Outgoing replyFor(const std::string& reply, SimClock::time_point now);

    void openPty();
    void bindRpc();
    void closeRpc();
    void acceptRpc(int listenFd, bool portmapper);
    void readRpc(RpcConnection& connection, SimClock::time_point now);
    void handleRpcRecord(RpcConnection& connection, const std::string& record,
                         SimClock::time_point now);
    std::string vxiCall(RpcConnection& connection, const rpc::Call& call, const std::string& record,
                        SimClock::time_point now);
    std::string portmapperCall(const rpc::Call& call, const std::string& record);
    void serveParkedRead(RpcConnection& connection, SimClock::time_point now);
    std::string readReply(VxiLink& link, std::uint32_t requestSize);
    void flushRpc(RpcConnection& connection);
    void answerDatagrams();
    void flush(Connection& connection, SimClock::time_point now);
    int pollTimeout(SimClock::time_point now) const;

    SimConfig config;
    int wakePipe[2] = {-1, -1};

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> muted{false};
    std::atomic<bool> refusing{false};
    std::atomic<bool> triggerNever{false};
    std::atomic<long long> replyDelayMs{0};
    std::atomic<int> closeAfter{0};
    std::atomic<int> malformedNth{0};
    std::atomic<int> splitChunk{0};
    std::atomic<unsigned> malformedEpoch{0};
    std::atomic<unsigned> requestedGeneration{0};

    mutable std::mutex mutex;
    std::condition_variable applied;
    unsigned appliedGeneration = 0;
    bool serving = false;
    std::thread::id loopThread;
    std::vector<std::uint16_t> boundPorts;
    std::uint16_t boundVxiPort = 0;
    std::string boundSerialPath;
    bool bound = false;
    std::thread thread;

    // Owned by the serving thread.
    int vxiListenFd = -1;
    std::uint16_t vxiPort = 0;
    int portmapperTcpFd = -1;
    int portmapperUdpFd = -1;
    int ptyKeepOpen = -1; // our own handle on the terminal side, so clients may come and go
    std::deque<RpcConnection> rpcConnections;
    std::map<long, VxiLink> vxiLinks;
    long nextLink = 1;
    std::string serialPath;
    std::vector<Slot> slots;
    std::deque<Connection> connections;
    unsigned seenMalformedEpoch = 0;
    long repliesSinceMalformedSet = 0;
    bool malformedSent = false;
};

void ScopeServer::Impl::bindAll() {
    if (bound) {
        throw std::logic_error("scopesim: the server is already bound");
    }
    if (config.instruments.empty()) {
        throw std::runtime_error("scopesim: no instrument configured");
    }
    if (config.root.empty()) {
        throw std::runtime_error("scopesim: no root folder given");
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(config.root) / "D", ec);
    if (ec) {
        throw std::runtime_error("scopesim: cannot create the drive folder under " + config.root +
                                 ": " + ec.message());
    }
    if (::pipe2(wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("scopesim: pipe: ") + std::strerror(errno));
    }

    const auto now = SimClock::now();
    std::vector<std::uint16_t> ports;
    for (const InstrumentConfig& ic : config.instruments) {
        Slot slot;
        InstrumentSetup setup;
        setup.idn = ic.idn;
        setup.root = config.root;
        setup.triggerPeriod = config.triggerPeriod;
        setup.saveDuration = config.saveDuration;
        setup.points = config.points;
        slot.instrument = std::make_unique<Instrument>(std::move(setup), now);
        if (!ic.logFile.empty() && !slot.log.open(ic.logFile)) {
            throw std::runtime_error("scopesim: cannot write the traffic log " + ic.logFile);
        }
        slot.fd = bindLoopback(ic.port, &slot.port);
        if (slot.fd < 0) {
            throw std::runtime_error("scopesim: cannot bind 127.0.0.1:" + std::to_string(ic.port) +
                                     ": " + std::strerror(errno));
        }
        if (!refusing) {
            if (::listen(slot.fd, SOMAXCONN) != 0) {
                throw std::runtime_error(std::string("scopesim: listen: ") + std::strerror(errno));
            }
            slot.listening = true;
        }
        ports.push_back(slot.port);
        slots.push_back(std::move(slot));
    }
    bindRpc();
    if (config.serialPty) {
        openPty();
    }
    std::lock_guard lock(mutex);
    boundPorts = std::move(ports);
    boundVxiPort = vxiPort;
    boundSerialPath = serialPath;
    bound = true;
}

void ScopeServer::Impl::wake() const {
    if (wakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
    }
}

// Makes a fault switch take effect before the setter returns, so that a caller can rely on it.
void ScopeServer::Impl::requestApply() {
    const unsigned generation = ++requestedGeneration;
    wake();
    std::unique_lock lock(mutex);
    if (!serving || std::this_thread::get_id() == loopThread) {
        return;
    }
    applied.wait_for(lock, std::chrono::seconds(5), [&] {
        return !serving || static_cast<int>(appliedGeneration - generation) >= 0;
    });
}

void ScopeServer::Impl::applyFaults() {
    const bool refuse = refusing;
    for (Slot& slot : slots) {
        if (refuse && slot.listening) {
            ::close(slot.fd);
            slot.fd = bindLoopback(slot.port);
            slot.listening = false;
        } else if (refuse && slot.fd < 0) {
            slot.fd = bindLoopback(slot.port);
        } else if (!refuse && !slot.listening) {
            if (slot.fd < 0) {
                slot.fd = bindLoopback(slot.port);
            }
            if (slot.fd >= 0 && ::listen(slot.fd, SOMAXCONN) == 0) {
                slot.listening = true;
            }
        }
    }
    const int limit = closeAfter;
    for (Connection& c : connections) {
        if (limit > 0 && c.messages >= limit) {
            c.closing = true;
        }
    }
    const unsigned epoch = malformedEpoch;
    if (epoch != seenMalformedEpoch) {
        seenMalformedEpoch = epoch;
        repliesSinceMalformedSet = 0;
        malformedSent = false;
    }
}

void ScopeServer::Impl::acceptOn(std::size_t slotIndex) {
    acceptPending(slots[slotIndex].fd, [&](int fd) {
        Connection connection;
        connection.fd = fd;
        connection.slot = slotIndex;
        connections.push_back(std::move(connection));
    });
}

void ScopeServer::Impl::readFrom(Connection& connection, SimClock::time_point now) {
    char buffer[65536];
    for (int round = 0; round < 16; ++round) {
        const ssize_t n = connection.tty ? ::read(connection.fd, buffer, sizeof buffer)
                                         : ::recv(connection.fd, buffer, sizeof buffer, 0);
        if (n == 0 && !connection.tty) {
            connection.dead = true;
            return;
        }
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && !connection.tty) {
                connection.dead = true;
            }
            break;
        }
        if (!connection.closing) {
            connection.input.append(buffer, static_cast<std::size_t>(n));
        }
        if (static_cast<std::size_t>(n) < sizeof buffer) {
            break;
        }
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = connection.input.find('\n', start);
        if (end == std::string::npos || connection.closing) {
            break;
        }
        std::string_view message(connection.input.data() + start, end - start);
        if (!message.empty() && message.back() == '\r') {
            message.remove_suffix(1);
        }
        handleMessage(connection, message, now);
        start = end + 1;
    }
    if (connection.closing) {
        connection.input.clear();
    } else {
        connection.input.erase(0, start);
        if (connection.input.size() > MaxPendingInput) {
            connection.dead = true;
        }
    }
}

std::optional<Outgoing> ScopeServer::Impl::runMessage(std::size_t slotIndex,
                                                      std::string_view message,
                                                      SimClock::time_point now) {
    if (muted) {
        return std::nullopt;
    }
    Slot& slot = slots[slotIndex];
    slot.log.write(message);
    slot.instrument->setTriggerNever(triggerNever);
    std::optional<std::string> reply;
    try {
        reply = slot.instrument->execute(message, now);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "scopesim: message failed: %s\n", error.what());
    }
    if (!reply) {
        return std::nullopt;
    }
    return replyFor(*reply, now);
}

void ScopeServer::Impl::handleMessage(Connection& connection, std::string_view message,
                                      SimClock::time_point now) {
    if (muted) {
        return;
    }
    ++connection.messages;
    if (auto out = runMessage(connection.slot, message, now)) {
        connection.output.push_back(std::move(*out));
    }
    const int limit = closeAfter;
    if (limit > 0 && connection.messages >= limit) {
        connection.closing = true;
    }
}

Outgoing ScopeServer::Impl::replyFor(const std::string& reply, SimClock::time_point now) {
    ++repliesSinceMalformedSet;
    Outgoing out;
    out.due = now + std::chrono::milliseconds(replyDelayMs.load());
    const int nth = malformedNth;
    if (nth > 0 && !malformedSent && repliesSinceMalformedSet == nth) {
        malformedSent = true;
        // A definite-length block header that promises more bytes than ever come.
        char header[16];
        std::snprintf(header, sizeof header, "#9%09zu",
                      std::min<std::size_t>(reply.size() + 100, 999999999));
        out.bytes = header + reply + "\n";
    } else {
        out.bytes = reply + "\n";
    }
    return out;
}

void ScopeServer::Impl::flush(Connection& connection, SimClock::time_point now) {
    while (!connection.output.empty() && !connection.dead) {
        Outgoing& out = connection.output.front();
        const int chunk = splitChunk;
        if (now < out.due || (chunk > 0 && now < connection.nextChunkAt)) {
            return;
        }
        std::size_t length = out.bytes.size() - out.sent;
        if (chunk > 0) {
            length = std::min(length, static_cast<std::size_t>(chunk));
        }
        const ssize_t n =
            connection.tty
                ? ::write(connection.fd, out.bytes.data() + out.sent, length)
                : ::send(connection.fd, out.bytes.data() + out.sent, length, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                connection.blocked = true;
            } else {
                connection.dead = true;
            }
            return;
        }
        connection.blocked = false;
        out.sent += static_cast<std::size_t>(n);
        if (out.sent == out.bytes.size()) {
            connection.output.pop_front();
        }
        if (chunk > 0) {
            connection.nextChunkAt = SimClock::now() + ChunkGap;
            return;
        }
    }
}

void ScopeServer::Impl::bindRpc() {
    if (config.vxi11Port >= 0) {
        std::uint16_t port = 0;
        vxiListenFd = bindLoopback(static_cast<std::uint16_t>(config.vxi11Port), &port);
        if (vxiListenFd < 0 || ::listen(vxiListenFd, SOMAXCONN) != 0) {
            throw std::runtime_error(
                "scopesim: cannot serve VXI-11 on 127.0.0.1:" + std::to_string(config.vxi11Port) +
                ": " + std::strerror(errno));
        }
        vxiPort = port;
    }
    if (config.portmapperPort != 0) {
        portmapperTcpFd = bindAnyAddress(SOCK_STREAM, config.portmapperPort);
        portmapperUdpFd =
            portmapperTcpFd < 0 ? -1 : bindAnyAddress(SOCK_DGRAM, config.portmapperPort);
        if (portmapperUdpFd < 0) {
            throw std::runtime_error("scopesim: cannot serve the portmapper on port " +
                                     std::to_string(config.portmapperPort) + ": " +
                                     std::strerror(errno));
        }
        const int on = 1;
        ::setsockopt(portmapperUdpFd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
}

void ScopeServer::Impl::openPty() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        const int error = errno;
        if (master >= 0) {
            ::close(master);
        }
        throw std::runtime_error(std::string("scopesim: cannot make a pseudo-terminal: ") +
                                 std::strerror(error));
    }
    ptyKeepOpen = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (ptyKeepOpen < 0 || ::tcgetattr(ptyKeepOpen, &raw) != 0) {
        const int error = errno;
        ::close(master);
        throw std::runtime_error(std::string("scopesim: cannot open ") + name + ": " +
                                 std::strerror(error));
    }
    // Raw from the start: an echo would hand our own replies back to us as messages.
    ::cfmakeraw(&raw);
    ::tcsetattr(ptyKeepOpen, TCSANOW, &raw);
    Connection connection;
    connection.fd = master;
    connection.tty = true;
    connection.slot = 0;
    connections.push_back(std::move(connection));
    serialPath = name;
}

void ScopeServer::Impl::closeRpc() {
    for (RpcConnection& c : rpcConnections) {
        ::close(c.fd);
    }
    rpcConnections.clear();
    vxiLinks.clear();
    for (int* fd : {&vxiListenFd, &portmapperTcpFd, &portmapperUdpFd}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void ScopeServer::Impl::acceptRpc(int listenFd, bool portmapper) {
    acceptPending(listenFd, [&](int fd) {
        RpcConnection connection;
        connection.fd = fd;
        connection.portmapper = portmapper;
        rpcConnections.push_back(std::move(connection));
    });
}

void ScopeServer::Impl::readRpc(RpcConnection& connection, SimClock::time_point now) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(connection.fd, buffer, sizeof buffer, 0);
        if (n == 0) {
            connection.dead = true;
            return;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                connection.dead = true;
            }
            break;
        }
        connection.input.append(buffer, static_cast<std::size_t>(n));
        if (connection.input.size() > MaxPendingInput + 65536) {
            break;
        }
    }
    // Calls on one connection are answered in order: a parked read holds back the next call.
    std::string record;
    bool bad = false;
    while (!connection.dead && !connection.parked &&
           rpc::takeRecord(connection.input, record, bad)) {
        handleRpcRecord(connection, record, now);
    }
    if (bad) {
        connection.dead = true;
    }
}

void ScopeServer::Impl::handleRpcRecord(RpcConnection& connection, const std::string& record,
                                        SimClock::time_point now) {
    std::string refusal;
    const auto call = rpc::parseCall(record, refusal);
    if (!call) {
        if (refusal.empty()) {
            connection.dead = true;
        } else {
            connection.output += rpc::frameRecord(refusal);
        }
        return;
    }
    const std::string reply = connection.portmapper ? portmapperCall(*call, record)
                                                    : vxiCall(connection, *call, record, now);
    if (!reply.empty()) {
        connection.output += rpc::frameRecord(reply);
    }
}

std::string ScopeServer::Impl::portmapperCall(const rpc::Call& call, const std::string& record) {
    if (call.program != PMAPPROG) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramUnavailable);
    }
    if (call.version != PMAPVERS) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramMismatch,
                                  rpc::versionRange(PMAPVERS, PMAPVERS));
    }
    auto vxiEntry = [&] {
        pmap entry{};
        entry.pm_prog = DEVICE_CORE;
        entry.pm_vers = DEVICE_CORE_VERSION;
        entry.pm_prot = IPPROTO_TCP;
        entry.pm_port = vxiPort;
        return entry;
    };
    switch (call.procedure) {
    case PMAPPROC_NULL:
        return rpc::acceptedReply(call.xid, rpc::AcceptSuccess);
    case PMAPPROC_SET:
    case PMAPPROC_UNSET: {
        bool_t no = FALSE;
        return rpc::acceptedReply(call.xid, rpc::AcceptSuccess,
                                  rpc::encode(reinterpret_cast<void*>(xdr_bool), &no));
    }
    case PMAPPROC_GETPORT: {
        pmap query{};
        if (!rpc::decode(record, call.argumentsOffset, reinterpret_cast<void*>(xdr_pmap), &query)) {
            return rpc::acceptedReply(call.xid, rpc::AcceptGarbageArguments);
        }
        u_long port = 0;
        if (vxiPort != 0 && query.pm_prog == DEVICE_CORE && query.pm_vers == DEVICE_CORE_VERSION &&
            query.pm_prot == IPPROTO_TCP) {
            port = vxiPort;
        }
        return rpc::acceptedReply(call.xid, rpc::AcceptSuccess,
                                  rpc::encode(reinterpret_cast<void*>(xdr_u_long), &port));
    }
    case PMAPPROC_DUMP: {
        pmaplist node{};
        node.pml_map = vxiEntry();
        node.pml_next = nullptr;
        pmaplist* list = vxiPort != 0 ? &node : nullptr;
        return rpc::acceptedReply(call.xid, rpc::AcceptSuccess,
                                  rpc::encode(reinterpret_cast<void*>(xdr_pmaplist), &list));
    }
    default:
        return rpc::acceptedReply(call.xid, rpc::AcceptProcedureUnavailable);
    }
}

std::string ScopeServer::Impl::readReply(VxiLink& link, std::uint32_t requestSize) {
    Outgoing& out = link.replies.front();
    const std::size_t left = out.bytes.size() - out.sent;
    std::size_t length = std::min<std::size_t>(left, std::max<std::uint32_t>(requestSize, 1));
    const int chunk = splitChunk;
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

void ScopeServer::Impl::serveParkedRead(RpcConnection& connection, SimClock::time_point now) {
    if (!connection.parked) {
        return;
    }
    const ParkedRead parked = *connection.parked;
    auto it = vxiLinks.find(parked.link);
    std::string results;
    if (it != vxiLinks.end() && !it->second.replies.empty() &&
        it->second.replies.front().due <= now) {
        results = readReply(it->second, parked.requestSize);
    } else if (it == vxiLinks.end() || now >= parked.deadline) {
        Device_ReadResp result{};
        result.error = it == vxiLinks.end() ? vxi11::ErrorInvalidLink : vxi11::ErrorIoTimeout;
        results = rpc::encode(reinterpret_cast<void*>(xdr_Device_ReadResp), &result);
    } else {
        return;
    }
    connection.parked.reset();
    connection.output +=
        rpc::frameRecord(rpc::acceptedReply(parked.xid, rpc::AcceptSuccess, results));
    std::string record;
    bool bad = false;
    while (!connection.dead && !connection.parked &&
           rpc::takeRecord(connection.input, record, bad)) {
        handleRpcRecord(connection, record, now);
    }
}

std::string ScopeServer::Impl::vxiCall(RpcConnection& connection, const rpc::Call& call,
                                       const std::string& record, SimClock::time_point now) {
    if (call.program != DEVICE_CORE) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramUnavailable);
    }
    if (call.version != DEVICE_CORE_VERSION) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramMismatch,
                                  rpc::versionRange(DEVICE_CORE_VERSION, DEVICE_CORE_VERSION));
    }
    auto garbage = [&] { return rpc::acceptedReply(call.xid, rpc::AcceptGarbageArguments); };
    auto success = [&](void* encoder, void* result) {
        return rpc::acceptedReply(call.xid, rpc::AcceptSuccess, rpc::encode(encoder, result));
    };
    auto deviceError = [&](long error) {
        Device_Error result{error};
        return success(reinterpret_cast<void*>(xdr_Device_Error), &result);
    };
    switch (call.procedure) {
    case vxi11::ProcCreateLink: {
        Create_LinkParms parameters{};
        if (!rpc::decode(record, call.argumentsOffset,
                         reinterpret_cast<void*>(xdr_Create_LinkParms), &parameters)) {
            rpc::release(reinterpret_cast<void*>(xdr_Create_LinkParms), &parameters);
            return garbage();
        }
        const std::string device = parameters.device ? parameters.device : "";
        rpc::release(reinterpret_cast<void*>(xdr_Create_LinkParms), &parameters);
        Create_LinkResp result{};
        std::size_t slot = slots.size();
        if (device.size() > 4 && device.compare(0, 4, "inst") == 0 &&
            device.find_first_not_of("0123456789", 4) == std::string::npos && device.size() < 10) {
            slot = std::stoul(device.substr(4));
        }
        if (slot >= slots.size()) {
            result.error = vxi11::ErrorNotAccessible;
        } else {
            const long id = nextLink++;
            vxiLinks[id].slot = slot;
            connection.links.push_back(id);
            result.error = 0;
            result.lid = id;
            result.abortPort = 0;
            result.maxRecvSize = VxiMaxRecvSize;
        }
        return success(reinterpret_cast<void*>(xdr_Create_LinkResp), &result);
    }
    case vxi11::ProcDeviceWrite: {
        Device_WriteParms parameters{};
        if (!rpc::decode(record, call.argumentsOffset,
                         reinterpret_cast<void*>(xdr_Device_WriteParms), &parameters)) {
            rpc::release(reinterpret_cast<void*>(xdr_Device_WriteParms), &parameters);
            return garbage();
        }
        Device_WriteResp result{};
        auto it = vxiLinks.find(parameters.lid);
        if (it == vxiLinks.end()) {
            result.error = vxi11::ErrorInvalidLink;
        } else {
            VxiLink& link = it->second;
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
                if (auto out = runMessage(link.slot, message, now)) {
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
        return success(reinterpret_cast<void*>(xdr_Device_WriteResp), &result);
    }
    case vxi11::ProcDeviceRead: {
        Device_ReadParms parameters{};
        if (!rpc::decode(record, call.argumentsOffset,
                         reinterpret_cast<void*>(xdr_Device_ReadParms), &parameters)) {
            return garbage();
        }
        if (vxiLinks.find(parameters.lid) == vxiLinks.end()) {
            Device_ReadResp result{};
            result.error = vxi11::ErrorInvalidLink;
            return success(reinterpret_cast<void*>(xdr_Device_ReadResp), &result);
        }
        ParkedRead parked;
        parked.xid = call.xid;
        parked.link = parameters.lid;
        parked.requestSize = static_cast<std::uint32_t>(parameters.requestSize);
        parked.deadline = now + std::chrono::milliseconds(parameters.io_timeout);
        connection.parked = parked;
        return {}; // answered by serveParkedRead, now or later
    }
    case vxi11::ProcDeviceClear: {
        Device_GenericParms parameters{};
        if (!rpc::decode(record, call.argumentsOffset,
                         reinterpret_cast<void*>(xdr_Device_GenericParms), &parameters)) {
            return garbage();
        }
        auto it = vxiLinks.find(parameters.lid);
        if (it == vxiLinks.end()) {
            return deviceError(vxi11::ErrorInvalidLink);
        }
        // Whatever was pending on the link, input or output, is dropped.
        it->second.input.clear();
        it->second.replies.clear();
        return deviceError(0);
    }
    case vxi11::ProcDestroyLink: {
        Device_Link id = 0;
        if (!rpc::decode(record, call.argumentsOffset, reinterpret_cast<void*>(xdr_Device_Link),
                         &id)) {
            return garbage();
        }
        auto owned = std::find(connection.links.begin(), connection.links.end(), id);
        if (owned == connection.links.end() || vxiLinks.erase(id) == 0) {
            return deviceError(vxi11::ErrorInvalidLink);
        }
        connection.links.erase(owned);
        return deviceError(0);
    }
    case vxi11::ProcDeviceReadStb: {
        Device_ReadStbResp result{};
        result.error = vxi11::ErrorNotSupported;
        return success(reinterpret_cast<void*>(xdr_Device_ReadStbResp), &result);
    }
    case vxi11::ProcDeviceDocmd: {
        Device_DocmdResp result{};
        result.error = vxi11::ErrorNotSupported;
        return success(reinterpret_cast<void*>(xdr_Device_DocmdResp), &result);
    }
    default:
        if (call.procedure >= 14 && call.procedure <= vxi11::ProcDestroyIntrChan &&
            call.procedure != 21 && call.procedure != 24) {
            return deviceError(vxi11::ErrorNotSupported);
        }
        return rpc::acceptedReply(call.xid, rpc::AcceptProcedureUnavailable);
    }
}

void ScopeServer::Impl::flushRpc(RpcConnection& connection) {
    while (!connection.output.empty() && !connection.dead) {
        const ssize_t n =
            ::send(connection.fd, connection.output.data(), connection.output.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                connection.dead = true;
            }
            return;
        }
        connection.output.erase(0, static_cast<std::size_t>(n));
    }
}

void ScopeServer::Impl::answerDatagrams() {
    char buffer[9000];
    for (;;) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(portmapperUdpFd, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        const std::string message(buffer, static_cast<std::size_t>(n));
        std::string refusal;
        const auto call = rpc::parseCall(message, refusal);
        const std::string reply = call ? portmapperCall(*call, message) : refusal;
        if (!reply.empty()) {
            ::sendto(portmapperUdpFd, reply.data(), reply.size(), 0,
                     reinterpret_cast<const sockaddr*>(&from), length);
        }
    }
}

int ScopeServer::Impl::pollTimeout(SimClock::time_point now) const {
    std::optional<SimClock::time_point> next;
    for (const Connection& c : connections) {
        if (c.output.empty() || c.blocked) {
            continue;
        }
        SimClock::time_point at = c.output.front().due;
        if (splitChunk > 0) {
            at = std::max(at, c.nextChunkAt);
        }
        next = next ? std::min(*next, at) : at;
    }
    for (const Slot& slot : slots) {
        if (slot.fd < 0 || (!refusing && !slot.listening)) {
            next = next ? std::min(*next, now + RebindRetry) : now + RebindRetry;
        }
    }
    for (const RpcConnection& c : rpcConnections) {
        if (!c.parked) {
            continue;
        }
        SimClock::time_point at = c.parked->deadline;
        if (auto it = vxiLinks.find(c.parked->link);
            it != vxiLinks.end() && !it->second.replies.empty()) {
            at = std::min(at, it->second.replies.front().due);
        }
        next = next ? std::min(*next, at) : at;
    }
    if (!next) {
        return -1;
    }
    if (*next <= now) {
        return 0;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
    return static_cast<int>(std::min<long long>(wait.count(), 60000));
}

void ScopeServer::Impl::serve() {
    {
        std::lock_guard lock(mutex);
        serving = true;
        loopThread = std::this_thread::get_id();
    }
    std::vector<pollfd> fds;
    while (!stopRequested) {
        const unsigned generation = requestedGeneration;
        applyFaults();
        {
            std::lock_guard lock(mutex);
            appliedGeneration = generation;
        }
        applied.notify_all();

        fds.clear();
        fds.push_back({wakePipe[0], POLLIN, 0});
        for (const Slot& slot : slots) {
            fds.push_back({slot.listening ? slot.fd : -1, POLLIN, 0});
        }
        for (const Connection& c : connections) {
            const short events = static_cast<short>(POLLIN | (c.blocked ? POLLOUT : 0));
            fds.push_back({c.fd, events, 0});
        }
        const std::size_t rpcBase = fds.size();
        fds.push_back({vxiListenFd, POLLIN, 0});
        fds.push_back({portmapperTcpFd, POLLIN, 0});
        fds.push_back({portmapperUdpFd, POLLIN, 0});
        for (const RpcConnection& c : rpcConnections) {
            const short events = static_cast<short>(POLLIN | (c.output.empty() ? 0 : POLLOUT));
            fds.push_back({c.fd, events, 0});
        }
        const int ready = ::poll(fds.data(), fds.size(), pollTimeout(SimClock::now()));
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "scopesim: poll: %s\n", std::strerror(errno));
            break;
        }
        if (fds[0].revents != 0) {
            char drain[256];
            while (::read(wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        if (stopRequested) {
            break;
        }
        const auto now = SimClock::now();
        const std::size_t knownConnections = connections.size();
        for (std::size_t i = 0; i < knownConnections; ++i) {
            const pollfd& p = fds[1 + slots.size() + i];
            if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                readFrom(connections[i], now);
            }
            if ((p.revents & POLLOUT) != 0) {
                connections[i].blocked = false;
            }
        }
        for (std::size_t s = 0; s < slots.size(); ++s) {
            if (slots[s].listening && (fds[1 + s].revents & POLLIN) != 0) {
                acceptOn(s);
            }
        }
        for (Connection& c : connections) {
            if (!c.blocked) {
                flush(c, now);
            }
        }
        const std::size_t knownRpc = rpcConnections.size();
        for (std::size_t i = 0; i < knownRpc; ++i) {
            if ((fds[rpcBase + 3 + i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                readRpc(rpcConnections[i], now);
            }
        }
        if (fds[rpcBase].revents & POLLIN) {
            acceptRpc(vxiListenFd, false);
        }
        if (fds[rpcBase + 1].revents & POLLIN) {
            acceptRpc(portmapperTcpFd, true);
        }
        if (fds[rpcBase + 2].revents & POLLIN) {
            answerDatagrams();
        }
        for (RpcConnection& c : rpcConnections) {
            serveParkedRead(c, SimClock::now());
            flushRpc(c);
        }
        for (auto it = rpcConnections.begin(); it != rpcConnections.end();) {
            if (it->dead) {
                for (long id : it->links) {
                    vxiLinks.erase(id);
                }
                ::close(it->fd);
                it = rpcConnections.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->tty) {
                it->dead = false; // a serial line has no connection to lose
                it->closing = false;
                ++it;
            } else if (it->dead || (it->closing && it->output.empty())) {
                ::close(it->fd);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Connection& c : connections) {
        ::close(c.fd);
    }
    connections.clear();
    closeRpc();
    if (ptyKeepOpen >= 0) {
        ::close(ptyKeepOpen);
        ptyKeepOpen = -1;
    }
    for (Slot& slot : slots) {
        if (slot.fd >= 0) {
            ::close(slot.fd);
            slot.fd = -1;
        }
        slot.listening = false;
    }
    {
        std::lock_guard lock(mutex);
        serving = false;
    }
    applied.notify_all();
}

ScopeServer::ScopeServer(SimConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

ScopeServer::~ScopeServer() {
    stop();
}

void ScopeServer::start() {
    if (impl_->thread.joinable()) {
        throw std::logic_error("scopesim: the server is already running");
    }
    impl_->bindAll();
    {
        // The setters wait for the loop from here on, so it counts as serving before it runs.
        std::lock_guard lock(impl_->mutex);
        impl_->serving = true;
    }
    impl_->thread = std::thread([this] { impl_->serve(); });
}

void ScopeServer::run() {
    if (!impl_->bound) {
        impl_->bindAll();
    }
    impl_->serve();
}

void ScopeServer::stop() {
    impl_->stopRequested = true;
    impl_->wake();
    if (impl_->thread.joinable() && impl_->thread.get_id() != std::this_thread::get_id()) {
        impl_->thread.join();
    }
}

std::vector<std::uint16_t> ScopeServer::ports() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->boundPorts;
}

std::uint16_t ScopeServer::vxi11Port() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->boundVxiPort;
}

std::string ScopeServer::serialPath() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->boundSerialPath;
}

Faults ScopeServer::faults() const {
    Faults f;
    f.replyDelay = std::chrono::milliseconds(impl_->replyDelayMs.load());
    f.closeAfterMessages = impl_->closeAfter;
    f.muted = impl_->muted;
    f.refusing = impl_->refusing;
    f.malformedReply = impl_->malformedNth;
    f.splitReplyChunk = impl_->splitChunk;
    return f;
}

void ScopeServer::setMuted(bool muted) {
    impl_->muted = muted;
    impl_->requestApply();
}

void ScopeServer::setRefusing(bool refusing) {
    impl_->refusing = refusing;
    impl_->requestApply();
}

void ScopeServer::setReplyDelay(std::chrono::milliseconds delay) {
    impl_->replyDelayMs = std::max<long long>(delay.count(), 0);
    impl_->requestApply();
}

void ScopeServer::setSplitReplyChunk(int bytes) {
    impl_->splitChunk = std::max(bytes, 0);
    impl_->requestApply();
}

void ScopeServer::setCloseAfterMessages(int messages) {
    impl_->closeAfter = std::max(messages, 0);
    impl_->requestApply();
}

void ScopeServer::setMalformedReply(int nth) {
    impl_->malformedNth = std::max(nth, 0);
    ++impl_->malformedEpoch;
    impl_->requestApply();
}

void ScopeServer::setTriggerNever(bool never) {
    impl_->triggerNever = never;
    impl_->requestApply();
}

} // namespace sim
