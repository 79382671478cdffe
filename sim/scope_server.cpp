#include "sim/scope_server.h"

#include "sim/fault_switches.h"
#include "sim/instrument_hub.h"
#include "sim/poll_set.h"
#include "sim/portmapper_server.h"
#include "sim/raw_socket_server.h"
#include "sim/serial_server.h"
#include "sim/vxi11_abort_server.h"
#include "sim/vxi11_core_server.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace sim {

// Owns the instruments and every server in front of them, and runs them all from one poll loop.
struct ScopeServer::Impl {
    explicit Impl(SimConfig c)
        : config(std::move(c)), hub(faults), raw(hub), vxi11(hub), abortChannel(vxi11),
          serial(hub) {
        faults.muted = config.faults.muted;
        faults.refusing = config.faults.refusing;
        faults.triggerNever = config.triggerNever;
        faults.replyDelayMs = config.faults.replyDelay.count();
        faults.closeAfter = config.faults.closeAfterMessages;
        faults.malformedNth = config.faults.malformedReply;
        faults.splitChunk = config.faults.splitReplyChunk;
    }

    ~Impl() {
        shutdown();
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
    int pollTimeout(SimClock::time_point now) const;
    void shutdown();

    SimConfig config;
    FaultSwitches faults;
    int wakePipe[2] = {-1, -1};
    std::atomic<bool> stopRequested{false};
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
    InstrumentHub hub;
    RawSocketServer raw;
    Vxi11CoreServer vxi11;
    Vxi11AbortServer abortChannel;
    PortmapperServer portmapper;
    SerialServer serial;
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
        InstrumentSetup setup;
        setup.idn = ic.idn;
        setup.root = config.root;
        setup.triggerPeriod = config.triggerPeriod;
        setup.saveDuration = config.saveDuration;
        setup.points = config.points;
        TrafficLog log;
        if (!ic.logFile.empty() && !log.open(ic.logFile)) {
            throw std::runtime_error("scopesim: cannot write the traffic log " + ic.logFile);
        }
        hub.add(std::make_unique<Instrument>(std::move(setup), now), std::move(log));
        ports.push_back(ic.port);
    }
    raw.bind(ports);
    if (config.vxi11Port >= 0) {
        vxi11.bind(static_cast<std::uint16_t>(config.vxi11Port));
        abortChannel.bind(faults.refusing);
        vxi11.setAbortPort(abortChannel.port());
    }
    if (config.portmapperPort != 0) {
        portmapper.bind(config.portmapperPort, vxi11.port());
    }
    if (config.serialPty) {
        serial.open();
    }
    std::lock_guard lock(mutex);
    boundPorts = raw.ports();
    boundVxiPort = vxi11.port();
    boundSerialPath = serial.path();
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
    raw.applyFaults();
    vxi11.applyFaults();
    abortChannel.applyFaults(faults.refusing);
    hub.applyFaults();
}

int ScopeServer::Impl::pollTimeout(SimClock::time_point now) const {
    std::optional<SimClock::time_point> next;
    raw.nextWake(next, now);
    serial.nextWake(next);
    vxi11.nextWake(next, now);
    abortChannel.nextWake(next, now, faults.refusing);
    if (!next) {
        return -1;
    }
    if (*next <= now) {
        return 0;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
    return static_cast<int>(std::min<long long>(wait.count(), 60000));
}

void ScopeServer::Impl::shutdown() {
    raw.shutdown();
    vxi11.shutdown();
    abortChannel.shutdown();
    portmapper.shutdown();
    serial.shutdown();
}

void ScopeServer::Impl::serve() {
    {
        std::lock_guard lock(mutex);
        serving = true;
        loopThread = std::this_thread::get_id();
    }
    PollSet poll;
    while (!stopRequested) {
        const unsigned generation = requestedGeneration;
        applyFaults();
        {
            std::lock_guard lock(mutex);
            appliedGeneration = generation;
        }
        applied.notify_all();

        poll.clear();
        const std::ptrdiff_t wakeIndex = poll.add(wakePipe[0], POLLIN);
        raw.prepare(poll);
        serial.prepare(poll);
        vxi11.prepare(poll);
        abortChannel.prepare(poll);
        portmapper.prepare(poll);
        const int ready = ::poll(poll.data(), poll.size(), pollTimeout(SimClock::now()));
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "scopesim: poll: %s\n", std::strerror(errno));
            break;
        }
        if (poll.revents(wakeIndex) != 0) {
            char drain[256];
            while (::read(wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        if (stopRequested) {
            break;
        }
        const auto now = SimClock::now();
        raw.handle(poll, now);
        serial.handle(poll, now);
        vxi11.handle(poll, now);
        abortChannel.handle(poll, now);
        portmapper.handle(poll);
    }
    shutdown();
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
    const FaultSwitches& s = impl_->faults;
    Faults f;
    f.replyDelay = std::chrono::milliseconds(s.replyDelayMs.load());
    f.closeAfterMessages = s.closeAfter;
    f.muted = s.muted;
    f.refusing = s.refusing;
    f.malformedReply = s.malformedNth;
    f.splitReplyChunk = s.splitChunk;
    return f;
}

void ScopeServer::setMuted(bool muted) {
    impl_->faults.muted = muted;
    impl_->requestApply();
}

void ScopeServer::setRefusing(bool refusing) {
    impl_->faults.refusing = refusing;
    impl_->requestApply();
}

void ScopeServer::setReplyDelay(std::chrono::milliseconds delay) {
    impl_->faults.replyDelayMs = std::max<long long>(delay.count(), 0);
    impl_->requestApply();
}

void ScopeServer::setSplitReplyChunk(int bytes) {
    impl_->faults.splitChunk = std::max(bytes, 0);
    impl_->requestApply();
}

void ScopeServer::setCloseAfterMessages(int messages) {
    impl_->faults.closeAfter = std::max(messages, 0);
    impl_->requestApply();
}

void ScopeServer::setMalformedReply(int nth) {
    impl_->faults.malformedNth = std::max(nth, 0);
    ++impl_->faults.malformedEpoch;
    impl_->requestApply();
}

void ScopeServer::setTriggerNever(bool never) {
    impl_->faults.triggerNever = never;
    impl_->requestApply();
}

} // namespace sim
