#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace sim {

// One received message per line, flushed at once. Control characters other than tab are
// written as \xNN so that a message can never span lines.
class TrafficLog {
public:
    TrafficLog() = default;
    ~TrafficLog();
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;
    TrafficLog(TrafficLog&& other) noexcept;
    TrafficLog& operator=(TrafficLog&& other) noexcept;

    // Appends to the file, so that a restarted server goes on with the same log; false when it
    // cannot be written.
    bool open(const std::string& path);
    bool isOpen() const { return file_ != nullptr; }
    void write(std::string_view message);

    static std::string escape(std::string_view message);

private:
    std::FILE* file_ = nullptr;
};

} // namespace sim
