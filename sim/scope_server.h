#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

inline constexpr const char* DefaultIdn = "ORVANE,NQX8034,C010442,CF:91.1CT FV:v1.2.0";

struct InstrumentConfig {
    std::uint16_t port = 0; // 0: pick a free port
    std::string idn = DefaultIdn;
    std::string logFile; // traffic log; empty: none
};

struct Faults {
    std::chrono::milliseconds replyDelay{0}; // every reply is sent this much later
    int closeAfterMessages = 0;              // >0: close a connection after it sent N messages
    bool muted = false;                      // received messages are dropped unanswered
    bool refusing = false;                   // not listening: connections are refused
    int malformedReply = 0;                  // >0: the N-th reply is sent malformed
    int splitReplyChunk = 0;                 // >0: replies go out in chunks of this many bytes
};

struct SimConfig {
    std::string root; // folders directly under it are the drives
    // VXI-11 on 127.0.0.1: -1 none, 0 a free port, else this port. LAN device name "inst0" is
    // the first instrument, "inst1" the second, and so on.
    int vxi11Port = -1;
    // A small portmapper (TCP and UDP) that tells the VXI-11 port; 0: none. It listens on every
    // address, so it is meant for a test's own network namespace.
    std::uint16_t portmapperPort = 0;
    // The first instrument also on a pseudo-terminal that the server makes: a serial line at
    // any baud rate, line feed terminated.
    bool serialPty = false;
    std::vector<InstrumentConfig> instruments{InstrumentConfig{}};
    std::chrono::milliseconds triggerPeriod{100}; // an armed acquisition completes after this
    bool triggerNever = false;                    // only a forced "TRIG" completes an acquisition
    std::chrono::milliseconds saveDuration{50};
    int points = 1000; // samples per channel
    Faults faults;
};

// A simulated instrument on loopback raw SCPI sockets and, when asked, VXI-11. All of its work
// happens on one thread: the caller's (run) or its own (start).
class ScopeServer {
public:
    explicit ScopeServer(SimConfig config);
    ~ScopeServer();
    ScopeServer(const ScopeServer&) = delete;
    ScopeServer& operator=(const ScopeServer&) = delete;

    // Binds and listens on 127.0.0.1 (throws std::runtime_error), then serves on its own thread.
    void start();
    // Binds and listens, then serves on the calling thread until stop().
    void run();
    void stop();

    // The bound ports, one per instrument, in configuration order (valid after start/run bound).
    std::vector<std::uint16_t> ports() const;
    // The VXI-11 port (0 when not serving VXI-11).
    std::uint16_t vxi11Port() const;
    // The pseudo-terminal a serial client opens, e.g. "/dev/pts/3" (empty when none).
    std::string serialPath() const;

    // The fault switches as they stand now.
    Faults faults() const;

    // Fault switches, safe to call from any thread while serving. While the server is serving,
    // each returns once the serving thread has taken the change in.
    void setMuted(bool muted);
    void setRefusing(bool refusing);
    void setReplyDelay(std::chrono::milliseconds delay);
    void setSplitReplyChunk(int bytes);
    void setCloseAfterMessages(int messages);
    void setMalformedReply(int nth);
    void setTriggerNever(bool never);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sim
