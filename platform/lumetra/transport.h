#pragma once

#include "platform/lumetra/resource_attributes.h"
#include "platform/lumetra/resource_name.h"
#include "platform/lumetra/status.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumetra {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// One link to one instrument. Every blocking step is bounded by the caller's deadline; a step
// that cannot finish in time throws Error(status::ErrorTimeout) and never hands back part of a
// message. A transport that finds its link broken closes itself and throws ErrorConnectionLost.
class Transport {
public:
    virtual ~Transport() = default;

    virtual void open(Deadline deadline) = 0;
    virtual void close() noexcept = 0;
    virtual bool isOpen() const = 0;

    // Sends one whole message; `message` carries its own terminator.
    virtual void write(std::string_view message, Deadline deadline) = 0;
    // Returns one whole reply without its terminator.
    virtual std::string read(Deadline deadline) = 0;
    // Brings the link back to a clean state: nothing pending from earlier exchanges.
    virtual void deviceClear(Deadline deadline) = 0;

    // Cheap check, without blocking, that an open link has not been closed by the peer.
    virtual bool peerHasClosed() { return false; }
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
