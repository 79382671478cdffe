#include "sim/serial_server.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace sim {

void SerialServer::open() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        const int error = errno;
        if (master >= 0) {
            ::close(master);
        }
        throw std::runtime_error(std::string("scopesim: cannot make a pseudo-terminal: ") +
                                 std::strerror(error));
    }
    keepOpen_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (keepOpen_ < 0 || ::tcgetattr(keepOpen_, &raw) != 0) {
        const int error = errno;
        ::close(master);
        throw std::runtime_error(std::string("scopesim: cannot open ") + name + ": " +
                                 std::strerror(error));
    }
    // Raw from the start: an echo would hand our own replies back to us as messages.
    ::cfmakeraw(&raw);
    ::tcsetattr(keepOpen_, TCSANOW, &raw);
    line_.fd = master;
    line_.tty = true;
    line_.slot = 0;
    line_.link = "serial";
    path_ = name;
}

void SerialServer::prepare(PollSet& poll) {
    line_.pollIndex = line_.fd >= 0 ? poll.add(line_.fd, line_.pollEvents()) : -1;
}

void SerialServer::handle(const PollSet& poll, SimClock::time_point now) {
    if (line_.fd < 0) {
        return;
    }
    const short events = poll.revents(line_.pollIndex);
    if ((events & ReadableOrGone) != 0) {
        line_.receive(hub_, now);
    }
    if ((events & POLLOUT) != 0) {
        line_.blocked = false;
    }
    if (!line_.blocked) {
        line_.flush(hub_.faults().splitChunk, now);
    }
    // A serial line has no connection to lose.
    line_.dead = false;
    line_.closing = false;
}

void SerialServer::nextWake(std::optional<SimClock::time_point>& next) const {
    if (line_.fd >= 0) {
        if (const auto at = line_.nextDue(hub_.faults().splitChunk)) {
            wakeAt(next, *at);
        }
    }
}

void SerialServer::shutdown() {
    for (int* fd : {&line_.fd, &keepOpen_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

} // namespace sim
