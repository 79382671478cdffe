#include "platform/lumetra/session.h"

namespace lumetra {

Session::Session(ResourceName resource, std::chrono::milliseconds timeout, TransportFactory factory,
                 ResourceAttributes attributes)
    : resource_(std::move(resource)), attributes_(std::move(attributes)), timeout_(timeout),
      factory_(std::move(factory)), transport_(factory_(resource_, attributes_)) {
    setTimeout(timeout);
}

Session::~Session() {
    close();
}

void Session::setTimeout(std::chrono::milliseconds timeout) {
    if (timeout.count() < 0) {
        throw Error(status::ErrorAttributeStateNotSupported,
                    "a timeout cannot be negative (" + std::to_string(timeout.count()) + " ms)");
    }
    timeout_ = timeout;
}

Deadline Session::nextDeadline() const {
    return Clock::now() + timeout_;
}

void Session::close() noexcept {
    transport_->close();
}

bool Session::isOpen() const {
    return transport_->isOpen();
}

Transport& Session::linkFor(Deadline deadline) {
    // An instrument that restarted closed our old connection; notice it before sending so the
    // first operation after the restart already goes through.
    if (transport_->isOpen() && transport_->peerHasClosed()) {
        transport_->close();
    }
    if (!transport_->isOpen()) {
        transport_->open(deadline);
    }
    return *transport_;
}

template <typename Operation> auto Session::run(Operation&& operation) {
    try {
        return operation();
    } catch (const Error& error) {
        // After a timeout a late reply may still arrive; dropping the link guarantees that it
        // is never taken for the answer to a later query.
        if (error.code() == status::ErrorTimeout) {
            transport_->close();
        }
        throw Error(error.code(), resource_.canonical() + ": " + error.what());
    }
}

void Session::open() {
    const Deadline deadline = nextDeadline();
    run([&] { linkFor(deadline); });
}

void Session::write(std::string_view command) {
    const Deadline deadline = nextDeadline();
    std::string message(command);
    message += '\n';
    run([&] { linkFor(deadline).write(message, deadline); });
}

std::string Session::read() {
    const Deadline deadline = nextDeadline();
    return run([&] { return linkFor(deadline).read(deadline); });
}

std::string Session::query(std::string_view query) {
    const Deadline deadline = nextDeadline();
    std::string message(query);
    message += '\n';
    return run([&] {
        Transport& link = linkFor(deadline);
        link.write(message, deadline);
        return link.read(deadline);
    });
}

void Session::clear() {
    const Deadline deadline = nextDeadline();
    run([&] { transport_->deviceClear(deadline); });
}

} // namespace lumetra
