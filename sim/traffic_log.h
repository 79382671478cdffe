#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace sim {

// What went on between an instrument and its clients, one line per message, reply or event,
// flushed at once:
//
//     2026-12-07 12:03:04.123456 raw:1 > HEAD OFF
//
// the local date and time, the link ("raw:N" for the N-th raw socket connection, "vxi11:L"
// for VXI-11 link L, "serial" for the serial line), a mark and the text. The marks are ">" a
// message received, "<" the reply it got, "x" a message dropped unanswered while muted, "*"
// an event (a connection, a device clear...). Control characters other than tab are written
// as \xNN so that nothing can span lines; long replies are cut short, their length given.
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

    void received(std::string_view link, std::string_view message);
    void replied(std::string_view link, std::string_view reply);
    void dropped(std::string_view link, std::string_view message);
    void event(std::string_view link, std::string_view text);

    static std::string escape(std::string_view message);
    // Replies longer than this are logged cut short.
    static constexpr std::size_t MaxReplyShown = 512;

private:
    void write(std::string_view link, char mark, std::string_view text);

    std::FILE* file_ = nullptr;
};

} // namespace sim
