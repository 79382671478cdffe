#pragma once

#include <QTest>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <regex>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace scopesim_test {

using namespace std::chrono_literals;

// A small blocking client for the simulator's raw socket, independent of the project's I/O layer.
class ScpiClient {
public:
    ScpiClient() = default;
    explicit ScpiClient(std::uint16_t port) { connectTo(port); }
    ~ScpiClient() { close(); }
    ScpiClient(const ScpiClient&) = delete;
    ScpiClient& operator=(const ScpiClient&) = delete;
    ScpiClient(ScpiClient&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), buffer_(std::move(other.buffer_)) {}

    // 0 when connected, else the errno of the failed connect.
    int connectTo(std::uint16_t port) {
        close();
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return errno;
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        fd_ = fd;
        return 0;
    }

    bool isConnected() const { return fd_ >= 0; }

    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        buffer_.clear();
        closed_ = false;
        receiveCalls_ = 0;
    }

    bool sendRaw(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    bool send(std::string_view message) { return sendRaw(std::string(message) + "\n"); }

    // One reply line without its terminator; nothing when none came in time.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            if (!receiveSome(deadline)) {
                return std::nullopt;
            }
        }
    }

    std::optional<std::string> query(std::string_view message,
                                     std::chrono::milliseconds timeout = 5s) {
        if (!send(message)) {
            return std::nullopt;
        }
        return readLine(timeout);
    }

    // Everything that arrives until nothing more came for `quiet` (or the peer closed).
    std::string readUntilQuiet(std::chrono::milliseconds quiet) {
        while (receiveSome(std::chrono::steady_clock::now() + quiet)) {
        }
        return std::exchange(buffer_, std::string());
    }

    // True when the peer closes the connection within `timeout`.
    bool waitForClose(std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!receiveSome(deadline)) {
                return closed_;
            }
        }
        return closed_;
    }

    int receiveCalls() const { return receiveCalls_; }

private:
    bool receiveSome(std::chrono::steady_clock::time_point deadline) {
        if (fd_ < 0 || closed_) {
            return false;
        }
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                return false;
            }
            char chunk[65536];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                closed_ = true;
                return false;
            }
            ++receiveCalls_;
            buffer_.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
    }

    int fd_ = -1;
    std::string buffer_;
    bool closed_ = false;
    int receiveCalls_ = 0;
};

// A traffic log with the date and time taken off each line. A line that does not start with
// them is kept whole, so that a comparison shows it.
inline std::string withoutTimes(const std::string& log) {
    static const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6} )");
    std::string result;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        end = end == std::string::npos ? log.size() : end + 1;
        const std::string line = log.substr(start, end - start);
        result += std::regex_replace(line, stamp, "", std::regex_constants::format_first_only);
        start = end;
    }
    return result;
}

// Polls `condition` until it holds or `timeout` passes.
template <typename Condition>
bool waitUntil(Condition&& condition, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
}

} // namespace scopesim_test

namespace QTest {
// Shows both sides of a failed QCOMPARE of replies.
template <> inline char* toString(const std::optional<std::string>& value) {
    return value ? QTest::toString(("\"" + *value + "\"").c_str()) : qstrdup("(no reply)");
}
} // namespace QTest
