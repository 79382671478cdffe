#pragma once

#include "platform/lumetra/transport.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace lumetra::net {

// Milliseconds left until the deadline, rounded up, for poll(); 0 once it has passed.
int remainingMilliseconds(Deadline deadline);
// Waits until `fd` is ready for one of `events` or the deadline passes, going on after an
// interrupted call. Returns the events seen, 0 once the deadline has passed, or -1 with errno
// set when poll fails.
int pollUntil(int fd, short events, Deadline deadline);
// How a descriptor takes bytes without blocking: send() on a socket (MSG_DONTWAIT, and no
// SIGPIPE on a reset), write() on a line opened non-blocking.
enum class Descriptor { Socket, Line };

// Writes all of `bytes`, waiting for room until the deadline and moving it on with every part
// that goes out; `sent` tells how much went out, so that a caller can tell half a message from
// none. Returns 0 once all is out, ETIMEDOUT when the deadline came first, or the errno of the
// failed call (EPIPE when the peer hung up while we waited).
int writeAll(int fd, Descriptor kind, std::string_view bytes, IoDeadline& deadline,
             std::size_t& sent);
// ": <strerror>" or nothing for 0.
std::string errnoText(int error);
// "host:port", with IPv6 hosts in brackets.
std::string endpoint(const std::string& host, std::uint16_t port);

// Looks up the host (a numeric address at once, a name on a helper thread waited for only until
// the deadline) and connects a TCP socket to the first address that accepts, all by the
// deadline. Returns a blocking, close-on-exec socket with TCP_NODELAY and keep-alive set.
// Throws ErrorTimeout, ErrorResourceNotFound (name unknown), ErrorMachineNotAvailable (refused,
// unreachable) or ErrorIo.
int connectTcp(const std::string& host, std::uint16_t port, Deadline deadline);

// Without blocking: true when the peer closed its end of a connected socket.
bool peerHasClosed(int fd);

// Sets SO_RCVTIMEO / SO_SNDTIMEO so that one blocking receive or send ends by the deadline.
void boundBlockingCalls(int fd, Deadline deadline);

// Keeps a blocking socket's SO_RCVTIMEO so that the next receive ends by a deadline. Setting it
// costs a system call, so the value set last is kept while it still ends inside the time left
// and at most 2 ms before it; a receive that ends early just goes round its read loop again.
class ReceiveBound {
public:
    // Bounds the next receive on `fd` by `deadline`; false once the deadline has passed.
    bool apply(int fd, Deadline deadline);
    // The socket is new: the next apply() sets its bound.
    void forget() { boundUs_ = -1; }

private:
    long long boundUs_ = -1;
};

} // namespace lumetra::net
