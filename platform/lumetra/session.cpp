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

IoDeadline Session::transferDeadline() const {
    return IoDeadline(timeout_, MaxTransferTime);
}

void Session::close() noexcept {
    transport_->close();
}

bool Session::isOpen() const {
    return transport_->isOpen();
}

Transport& Session::linkFor(Deadline deadline, bool beforeQuery) {
    if (transport_->isOpen()) {
        // An instrument that restarted closed our old connection; notice it before sending, so
        // that a command is never counted as sent into a dead link and the first operation after
        // the restart already goes through.
        const bool quiet = Clock::now() - lastAnswer_ > QuietAfterAnswer;
        if (beforeQuery) {
            if (const std::size_t dropped = transport_->dropUnread(quiet); dropped > 0 && trace_) {
                trace_("dropped " + std::to_string(dropped) + " unread bytes before the query (" +
                       resource_.canonical() + ")");
            }
        } else if (quiet && transport_->peerHasClosed()) {
            transport_->close();
        }
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
    run([&] { linkFor(deadline, false); });
}

void Session::write(std::string_view command) {
    IoDeadline deadline = transferDeadline();
    std::string message(command);
    message += '\n';
    run([&] { linkFor(deadline.due(), false).write(message, deadline); });
}

std::string Session::read() {
    IoDeadline deadline = transferDeadline();
    return run([&] {
        std::string reply = linkFor(deadline.due(), false).read(deadline);
        lastAnswer_ = Clock::now();
        return reply;
    });
}

std::string Session::query(std::string_view query) {
    IoDeadline deadline = transferDeadline();
    std::string message(query);
    message += '\n';
    return run([&] {
        std::string reply = linkFor(deadline.due(), true).query(message, deadline);
        lastAnswer_ = Clock::now();
        return reply;
    });
}

void Session::clear() {
    const Deadline deadline = nextDeadline();
    run([&] {
        try {
            if (!transport_->isOpen()) {
                transport_->open(deadline);
            }
            transport_->deviceClear(deadline);
        } catch (const Error& error) {
            // A refusal by an instrument that was reached is an error of the clear; a link
            // that cannot be reached, or is lost on the way, just stays closed.
            const bool reached = transport_->isOpen();
            if (reached && error.code() != status::ErrorTimeout &&
                error.code() != status::ErrorConnectionLost) {
                throw;
            }
            transport_->close();
            if (trace_) {
                trace_("clear could not reach " + resource_.canonical() + " (" + error.what() +
                       "); the link stays closed");
            }
        }
    });
}

} // namespace lumetra
