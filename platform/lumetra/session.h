#pragma once

#include "platform/lumetra/resource_name.h"
#include "platform/lumetra/transport.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace lumetra {

// A session with one resource. Creating a session does no I/O (it only picks the transport,
// and throws when this build carries none for the resource); the link is opened by open() or by
// the first operation that needs it, and opened again by the next operation after it was lost,
// always within that operation's timeout. A query's write and read share one timeout. Errors
// are lumetra::Error, their text prefixed with the resource name.
class Session {
public:
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
    // Device clear: drops whatever is pending on the link. Needs no open link.
    void clear();

private:
    Deadline nextDeadline() const;
    Transport& linkFor(Deadline deadline);
    template <typename Operation> auto run(Operation&& operation);

    ResourceName resource_;
    ResourceAttributes attributes_;
    std::chrono::milliseconds timeout_;
    TransportFactory factory_;
    std::unique_ptr<Transport> transport_;
};

} // namespace lumetra
