#pragma once

#include "sim/instrument_hub.h"
#include "sim/poll_set.h"
#include "sim/rpc_codec.h"
#include "sim/rpc_connection.h"
#include "sim/socket_setup.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The VXI-11 core channel on 127.0.0.1: links to the instruments by LAN device name ("inst0"
// is the first instrument), messages written and replies read through them.
class Vxi11CoreServer {
public:
    explicit Vxi11CoreServer(InstrumentHub& hub) : hub_(hub) {}

    // Throws std::runtime_error when the port cannot be had (0 picks a free one).
    void bind(std::uint16_t port);
    std::uint16_t port() const { return listener_.port(); }
    bool isBound() const { return listener_.isBound(); }

    void applyFaults();
    void prepare(PollSet& poll);
    void handle(const PollSet& poll, SimClock::time_point now);
    void nextWake(std::optional<SimClock::time_point>& next, SimClock::time_point now) const;
    void shutdown();

private:
    struct Link {
        std::size_t slot = 0;
        std::string input; // bytes of a message not ended yet
        std::deque<Outgoing> replies;
    };
    // A call that could not be answered at once, e.g. a read waiting for its reply. Calls on
    // one connection are answered in order, so it holds back the calls behind it.
    struct Pending {
        rpc::Call call;
        std::string record;
        SimClock::time_point arrived;
        std::optional<SimClock::time_point> retryAt; // when waiting may end by itself
    };
    struct Connection {
        RpcConnection rpc;
        std::optional<Pending> pending;
        std::vector<long> links;
    };

    void serveCalls(Connection& connection, SimClock::time_point now);
    // The reply to a call, or nothing while it has to wait.
    std::optional<std::string> answer(Connection& connection, Pending& pending,
                                      SimClock::time_point now);
    std::string createLink(Connection& connection, const rpc::Call& call,
                           const std::string& record);
    std::string write(const rpc::Call& call, const std::string& record, SimClock::time_point now);
    std::optional<std::string> read(Pending& pending, SimClock::time_point now);
    std::string readReply(Link& link, std::uint32_t requestSize);

    InstrumentHub& hub_;
    LoopbackListener listener_;
    std::ptrdiff_t listenerIndex_ = -1;
    std::deque<Connection> connections_;
    std::map<long, Link> links_;
    long nextLink_ = 1;
};

} // namespace sim
