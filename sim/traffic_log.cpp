#include "sim/traffic_log.h"

#include <chrono>
#include <ctime>
#include <utility>

namespace sim {

TrafficLog::~TrafficLog() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

TrafficLog::TrafficLog(TrafficLog&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}

TrafficLog& TrafficLog::operator=(TrafficLog&& other) noexcept {
    if (this != &other) {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
        file_ = std::exchange(other.file_, nullptr);
    }
    return *this;
}

bool TrafficLog::open(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        return false;
    }
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    file_ = file;
    return true;
}

std::string TrafficLog::escape(std::string_view message) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string line;
    line.reserve(message.size());
    for (char c : message) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f) {
            line += "\\x";
            line += hex[u >> 4];
            line += hex[u & 0x0f];
        } else {
            line += c;
        }
    }
    return line;
}

void TrafficLog::write(std::string_view link, char mark, std::string_view text) {
    if (file_ == nullptr) {
        return;
    }
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            now.time_since_epoch() - std::chrono::seconds(seconds))
                            .count();
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[40];
    const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + length, sizeof stamp - length, ".%06lld", static_cast<long long>(micros));
    std::string line = stamp;
    line += ' ';
    line += link;
    line += ' ';
    line += mark;
    line += ' ';
    line += escape(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

void TrafficLog::received(std::string_view link, std::string_view message) {
    write(link, '>', message);
}

void TrafficLog::replied(std::string_view link, std::string_view reply) {
    if (reply.size() <= MaxReplyShown) {
        write(link, '<', reply);
        return;
    }
    write(link, '<',
          std::string(reply.substr(0, MaxReplyShown)) + "... (" + std::to_string(reply.size()) +
              " bytes)");
}

void TrafficLog::dropped(std::string_view link, std::string_view message) {
    write(link, 'x', message);
}

void TrafficLog::event(std::string_view link, std::string_view text) {
    write(link, '*', text);
}

} // namespace sim
