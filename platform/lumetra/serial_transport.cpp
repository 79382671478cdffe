#include "platform/lumetra/serial_transport.h"

#include "platform/lumetra/net_util.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace lumetra {

namespace {

constexpr std::size_t MaxMessageBytes = std::size_t(256) << 20;

speed_t speedOf(unsigned baud) {
    static const std::pair<unsigned, speed_t> speeds[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000}};
    for (const auto& [rate, speed] : speeds) {
        if (rate == baud) {
            return speed;
        }
    }
    return B9600;
}

} // namespace

std::string serialDevicePath(const std::string& port) {
    if (!port.empty() && port.front() == '/') {
        return port;
    }
    const unsigned long number = std::stoul(port);
    return "/dev/ttyS" + std::to_string(number > 0 ? number - 1 : 0);
}

void applySerialSettings(termios& tty, const SerialSettings& settings) {
    ::cfmakeraw(&tty);
    tty.c_cflag |= CLOCAL | CREAD;
    tty.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tty.c_cflag |= sizes[std::clamp(settings.dataBits, 5, 8) - 5];
    if (settings.parity != 'N') {
        tty.c_cflag |= PARENB;
        if (settings.parity == 'O') {
            tty.c_cflag |= PARODD;
        }
    }
    if (settings.stopBits == 2) {
        tty.c_cflag |= CSTOPB;
    }
    if (settings.rtsCts) {
        tty.c_cflag |= CRTSCTS;
    }
    tty.c_cc[VMIN] = 0;
    tty.c_cc[VTIME] = 0;
    ::cfsetispeed(&tty, speedOf(settings.baud));
    ::cfsetospeed(&tty, speedOf(settings.baud));
}

SerialTransport::SerialTransport(std::string devicePath, SerialSettings settings)
    : path_(std::move(devicePath)), settings_(std::move(settings)) {}

SerialTransport::~SerialTransport() {
    close();
}

void SerialTransport::open(Deadline deadline) {
    close();
    if (Clock::now() >= deadline) {
        throw Error(status::ErrorTimeout, "timeout before opening " + path_);
    }
    // Non-blocking: every wait is a poll bounded by the deadline, and opening does not wait for
    // a carrier.
    const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw Error(error == ENOENT || error == ENXIO || error == ENODEV
                        ? status::ErrorResourceNotFound
                        : status::ErrorIo,
                    "cannot open " + path_ + net::errnoText(error));
    }
    termios tty{};
    if (::tcgetattr(fd, &tty) != 0) {
        const int error = errno;
        ::close(fd);
        throw Error(status::ErrorIo, path_ + " is not a serial line" + net::errnoText(error));
    }
    applySerialSettings(tty, settings_);
    if (::tcsetattr(fd, TCSANOW, &tty) != 0) {
        const int error = errno;
        ::close(fd);
        throw Error(status::ErrorIo, "cannot set up " + path_ + net::errnoText(error));
    }
    // Whatever the line held before us is no reply to anything we asked.
    ::tcflush(fd, TCIOFLUSH);
    fd_ = fd;
    dropUnread(false);
}

void SerialTransport::close() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    dropUnread(false);
}

void SerialTransport::lose(const std::string& what, int error) {
    close();
    throw Error(status::ErrorConnectionLost, what + " (" + path_ + ")" + net::errnoText(error));
}

bool SerialTransport::waitFor(short events, Deadline deadline) {
    const int seen = net::pollUntil(fd_, events, deadline);
    if (seen < 0) {
        lose("waiting on the serial line failed", errno);
    }
    if ((seen & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (seen & events) == 0) {
        lose("the serial line hung up", 0);
    }
    return seen > 0;
}

void SerialTransport::write(std::string_view message, IoDeadline deadline) {
    if (fd_ < 0) {
        throw Error(status::ErrorInvalidObject, path_ + " is not open");
    }
    std::string bytes(message);
    if (!bytes.empty() && bytes.back() == '\n') {
        bytes.pop_back();
    }
    bytes += settings_.termination;
    std::size_t sent = 0;
    const int error = net::writeAll(fd_, net::Descriptor::Line, bytes, deadline, sent);
    if (error == ETIMEDOUT) {
        // Drop what is still queued rather than send half a message later.
        ::tcflush(fd_, TCOFLUSH);
        throw Error(status::ErrorTimeout, "timeout while sending to " + path_);
    }
    if (error == EPIPE || error == EIO) { // a terminal that hung up fails writes with EIO
        lose("the serial line hung up", 0);
    }
    if (error != 0) {
        lose("sending failed", error);
    }
}

bool SerialTransport::takeReply(std::string& reply) {
    const std::string& term = settings_.termination;
    if (term == "\n") {
        return scanner_.take(pending_, reply);
    }
    const std::size_t at = pending_.find(term, termSearchFrom_);
    if (at == std::string::npos) {
        // A terminator may be split across reads: look again from its possible start.
        termSearchFrom_ = pending_.size() - std::min(pending_.size(), term.size() - 1);
        return false;
    }
    reply.assign(pending_, 0, at);
    pending_.erase(0, at + term.size());
    termSearchFrom_ = 0;
    return true;
}

std::string SerialTransport::read(IoDeadline deadline) {
    if (fd_ < 0) {
        throw Error(status::ErrorInvalidObject, path_ + " is not open");
    }
    std::string reply;
    for (;;) {
        if (takeReply(reply)) {
            return reply;
        }
        if (pending_.size() > MaxMessageBytes) {
            close();
            throw Error(status::ErrorIo, "reply on " + path_ + " exceeds the size limit");
        }
        if (!waitFor(POLLIN, deadline.due())) {
            throw Error(status::ErrorTimeout, "timeout while waiting for a reply on " + path_);
        }
        char buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            pending_.append(buffer, static_cast<std::size_t>(n));
            deadline.progress();
        } else if (n == 0) {
            // A terminal in raw mode with VMIN 0 reads nothing only once its other side is gone.
            lose("the serial line hung up", 0);
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            lose("receiving failed", errno);
        }
    }
}

void SerialTransport::deviceClear(Deadline) {
    dropUnread(false);
    if (fd_ >= 0) {
        ::tcflush(fd_, TCIOFLUSH);
    }
}

std::size_t SerialTransport::dropUnread(bool askLink) {
    const std::size_t dropped = pending_.size();
    pending_.clear();
    scanner_.reset();
    termSearchFrom_ = 0;
    if (askLink && fd_ >= 0) {
        int queued = 0;
        if (::ioctl(fd_, FIONREAD, &queued) == 0 && queued > 0) {
            ::tcflush(fd_, TCIFLUSH);
            return dropped + static_cast<std::size_t>(queued);
        }
    }
    return dropped;
}

bool SerialTransport::peerHasClosed() {
    if (fd_ < 0) {
        return false;
    }
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
           (p.revents & POLLIN) == 0;
}

} // namespace lumetra
