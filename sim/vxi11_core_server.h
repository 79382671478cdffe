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
// is the first instrument), messages written and replies read through them, the status byte,
// the trigger, device clear, and the lock an instrument gives one link at a time.
class Vxi11CoreServer {
public:
    explicit Vxi11CoreServer(InstrumentHub& hub) : hub_(hub) {}

    // Throws std::runtime_error when the port cannot be had (0 picks a free one).
    void bind(std::uint16_t port);
    std::uint16_t port() const { return listener_.port(); }
    bool isBound() const { return listener_.isBound(); }
    // The abort channel's port, which create_link tells the client.
    void setAbortPort(std::uint16_t port) { abortPort_ = port; }

    // Ends the call that `link` has in progress, if any, with the abort error. False when there
    // is no such link.
    bool abort(long link, SimClock::time_point now);

    void applyFaults();
    void prepare(PollSet& poll);
    void handle(const PollSet& poll, SimClock::time_point now);
    void nextWake(std::optional<SimClock::time_point>& next, SimClock::time_point now) const;
    void shutdown();

private:
    struct Link {
        std::size_t slot = 0;
        std::string name;  // in the traffic log
        std::string input; // bytes of a message not ended yet
        std::deque<Outgoing> replies;
    };
    // A call that could not be answered at once: a read waiting for its reply, or a call
    // waiting for another link's lock. Calls on one connection are answered in order, so it
    // holds back the calls behind it.
    struct Pending {
        rpc::Call call;
        std::string record;
        SimClock::time_point arrived;
        long link = 0;                               // the link it works on, once known
        std::optional<SimClock::time_point> retryAt; // when waiting may end by itself
    };
    struct Connection {
        RpcConnection rpc;
        std::optional<Pending> pending;
        std::vector<long> links;
        int messages = 0;     // messages written through its links, for the close-after switch
        bool closing = false; // closed once its replies are read
    };

    void serveAll(SimClock::time_point now);
    void serveCalls(Connection& connection, SimClock::time_point now);
    // The reply to a call, or nothing while it has to wait.
    std::optional<std::string> answer(Connection& connection, Pending& pending,
                                      SimClock::time_point now);
    std::optional<std::string> createLink(Connection& connection, Pending& pending,
                                          SimClock::time_point now);
    std::optional<std::string> write(Connection& connection, Pending& pending,
                                     SimClock::time_point now);
    std::optional<std::string> read(Pending& pending, SimClock::time_point now);
    std::optional<std::string> generic(Pending& pending, SimClock::time_point now);
    std::optional<std::string> lock(Pending& pending, SimClock::time_point now);
    std::string unlock(Pending& pending);
    std::string destroyLink(Connection& connection, Pending& pending);
    std::string readReply(Link& link, std::uint32_t requestSize);

    // The link of a call, once the call may use its instrument. Otherwise nullptr, with
    // `refusal` holding the reply to send now (no such link, or locked by another link), or
    // nothing while the call waits for another link's lock.
    Link* admit(Pending& pending, long id, long flags, unsigned long lockTimeout,
                SimClock::time_point now, std::optional<std::string>& refusal);
    void releaseLock(long id);
    void logEvent(const Link& link, std::string_view text);
    Link* findLink(long id);
    bool hasReplies(const Connection& connection) const;

    InstrumentHub& hub_;
    LoopbackListener listener_;
    std::ptrdiff_t listenerIndex_ = -1;
    std::uint16_t abortPort_ = 0;
    std::deque<Connection> connections_;
    std::map<long, Link> links_;
    std::vector<long> lockOwner_; // per instrument, 0: unlocked
    bool lockReleased_ = false;
    long nextLink_ = 1;
};

} // namespace sim
