#include "sim/traffic_log.h"

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

void TrafficLog::write(std::string_view message) {
    if (file_ == nullptr) {
        return;
    }
    std::string line = escape(message);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

} // namespace sim
