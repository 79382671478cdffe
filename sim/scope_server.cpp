#include "sim/scope_server.h"

#include "sim/instrument.h"
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
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

constexpr std::size_t MaxPendingInput = 4 * 1024 * 1024;
constexpr auto ChunkGap = std::chrono::milliseconds(1);
constexpr auto RebindRetry = std::chrono::milliseconds(100);

// A TCP socket bound to 127.0.0.1:port but not listening, so that connects to it are refused
// while the port stays ours. -1 when it cannot be bound.
int bindLoopback(std::uint16_t port, std::uint16_t* boundPort = nullptr) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

struct Outgoing {
    SimClock::time_point due;
    std::string bytes;
    std::size_t sent = 0;
};

struct Connection {
    int fd = -1;
    std::size_t slot = 0;
    std::string input;
    std::deque<Outgoing> output;
    int messages = 0;
    bool closing = false; // closed once its output is sent
    bool dead = false;
    bool blocked = false; // the last send would have blocked: wait for POLLOUT
    SimClock::time_point nextChunkAt{};
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
    void enqueueReply(Connection& connection, const std::string& reply, SimClock::time_point now);
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
    bool bound = false;
    std::thread thread;

    // Owned by the serving thread.
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
    std::lock_guard lock(mutex);
    boundPorts = std::move(ports);
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
    for (;;) {
        const int fd =
            ::accept4(slots[slotIndex].fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Connection connection;
        connection.fd = fd;
        connection.slot = slotIndex;
        connections.push_back(std::move(connection));
    }
}

void ScopeServer::Impl::readFrom(Connection& connection, SimClock::time_point now) {
    char buffer[65536];
    for (int round = 0; round < 16; ++round) {
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

void ScopeServer::Impl::handleMessage(Connection& connection, std::string_view message,
                                      SimClock::time_point now) {
    if (muted) {
        return;
    }
    Slot& slot = slots[connection.slot];
    slot.log.write(message);
    ++connection.messages;
    slot.instrument->setTriggerNever(triggerNever);
    std::optional<std::string> reply;
    try {
        reply = slot.instrument->execute(message, now);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "scopesim: message failed: %s\n", error.what());
    }
    if (reply) {
        enqueueReply(connection, *reply, now);
    }
    const int limit = closeAfter;
    if (limit > 0 && connection.messages >= limit) {
        connection.closing = true;
    }
}

void ScopeServer::Impl::enqueueReply(Connection& connection, const std::string& reply,
                                     SimClock::time_point now) {
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
    connection.output.push_back(std::move(out));
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
        const ssize_t n = ::send(connection.fd, out.bytes.data() + out.sent, length, MSG_NOSIGNAL);
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
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->dead || (it->closing && it->output.empty())) {
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
