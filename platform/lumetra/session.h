#pragma once

#include "platform/lumetra/resource_name.h"
#include "platform/lumetra/transport.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace lumetra {

// A session with one resource. Creating a session does no I/O (it only picks the transport,
// and throws when this build carries none for the resource); the link is opened by open() or by
// the first operation that needs it, and opened again by the next operation after it was lost,
// always within that operation's timeout. Errors are lumetra::Error, their text prefixed with
// the resource name.
//
// The timeout bounds silence: an operation fails once the link has moved no byte for that
// long, however long the reply, but never takes longer than MaxTransferTime in all (or the
// timeout, when that is longer). A query's write and read share one such deadline.
//
// A reply is only ever the answer to the query just sent: before a query is written, whatever
// the link holds unread is dropped (and traced). A link that answered within the last
// QuietAfterAnswer needs no look at the link itself for that, nor for a peer that closed.
class Session {
public:
    static constexpr std::chrono::seconds MaxTransferTime{60};
    static constexpr std::chrono::milliseconds QuietAfterAnswer{1};

    explicit Session(ResourceName resource,
                     std::chrono::milliseconds timeout = std::chrono::seconds(2),
                     TransportFactory factory = makeTransport, ResourceAttributes attributes = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const ResourceName& resource() const { return resource_; }
    const ResourceAttributes& attributes() const { return attributes_; }
    std::chrono::milliseconds timeout() const { return timeout_; }
    void setTimeout(std::chrono::milliseconds timeout);

    void open();
    void close() noexcept;
    bool isOpen() const;

    // Sends one command; a line feed is appended.
    void write(std::string_view command);
    // Reads one reply, without its terminator.
    std::string read();
    std::string query(std::string_view query);
    // Device clear: drops whatever is pending on the link. A link that cannot be reached is
    // left closed, which leaves nothing pending either: the next operation connects afresh and
    // reports the failure.
    void clear();

    // Receives one line for each event worth tracing: dropped unread bytes, an unreachable
    // link at a clear.
    void setTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }

private:
    Deadline nextDeadline() const;
    IoDeadline transferDeadline() const;
    Transport& linkFor(Deadline deadline, bool beforeQuery);
    template <typename Operation> auto run(Operation&& operation);

    ResourceName resource_;
    ResourceAttributes attributes_;
    std::chrono::milliseconds timeout_;
    TransportFactory factory_;
    std::unique_ptr<Transport> transport_;
    std::function<void(const std::string&)> trace_;
    Deadline lastAnswer_{};
};

} // namespace lumetra
