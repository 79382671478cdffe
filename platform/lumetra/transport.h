#pragma once

#include "platform/lumetra/resource_attributes.h"
#include "platform/lumetra/resource_name.h"
#include "platform/lumetra/status.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumetra {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// When a transfer must end. A moving deadline bounds silence: it starts `timeout` from now and
// moves on by `timeout` whenever bytes move (progress()), but never past its cap. So a long
// reply on a slow link finishes, while a link that goes quiet still fails within the timeout.
// A fixed deadline, made from a time point, never moves.
class IoDeadline {
public:
    IoDeadline(Deadline fixed) : due_(fixed), cap_(fixed) {}
    IoDeadline(Clock::duration timeout, Clock::duration cap) : timeout_(timeout), moving_(true) {
        const Deadline now = Clock::now();
        cap_ = now + std::max(cap, timeout);
        due_ = now + timeout;
    }

    Deadline due() const { return due_; }
    void progress() {
        if (moving_) {
            due_ = std::min(Clock::now() + timeout_, cap_);
        }
    }

private:
    Deadline due_;
    Deadline cap_;
    Clock::duration timeout_{};
    bool moving_ = false;
};

// One link to one instrument. Every blocking step is bounded by the caller's deadline; a step
// that cannot finish in time throws Error(status::ErrorTimeout) and never hands back part of a
// message. A transport that finds its link broken closes itself, without talking to the peer
// again, and throws ErrorConnectionLost.
class Transport {
public:
    virtual ~Transport() = default;

    virtual void open(Deadline deadline) = 0;
    virtual void close() noexcept = 0;
    virtual bool isOpen() const = 0;

    // Sends one whole message; `message` carries its own terminator.
    virtual void write(std::string_view message, IoDeadline deadline) = 0;
    // Returns one whole reply without its terminator.
    virtual std::string read(IoDeadline deadline) = 0;
    // Sends a message and returns the reply to it; the deadline moves on once the message is
    // sent. A link may overlap the two to save a round trip.
    virtual std::string query(std::string_view message, IoDeadline deadline) {
        write(message, deadline);
        deadline.progress();
        return read(deadline);
    }
    // Brings the link back to a clean state: nothing pending from earlier exchanges.
    virtual void deviceClear(Deadline deadline) = 0;

    // Cheap check, without blocking, that an open link has not been closed by the peer.
    virtual bool peerHasClosed() { return false; }

    // Without blocking, before a query is sent: drops the bytes received but not handed out,
    // and with `askLink` also what the link itself holds unread (closing the link when that
    // shows the peer has closed it), so that the next reply read answers that query. Returns
    // the number of bytes dropped.
    virtual std::size_t dropUnread(bool askLink) {
        (void)askLink;
        return 0;
    }
};

using TransportFactory =
    std::function<std::unique_ptr<Transport>(const ResourceName&, const ResourceAttributes&)>;

// The transport for a resource's interface and class, set up with the resource's configured
// link settings; throws ErrorOperationNotSupported for resource classes this build does not
// carry.
std::unique_ptr<Transport> makeTransport(const ResourceName& resource,
                                         const ResourceAttributes& attributes);

// Which links this build carries, e.g. {"TCPIP::SOCKET", "TCPIP::INSTR"}.
std::vector<std::string> supportedLinks();

} // namespace lumetra
