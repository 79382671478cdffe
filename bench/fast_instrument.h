#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace bench {

// An instrument that costs nothing: on loopback, on its own thread, it answers "BUSY?" with
// "0" and "FILES:DIR?" with a fixed listing of `names` quoted file names at once, and takes
// every other line as a command, on any number of connections.
class FastInstrument {
public:
    explicit FastInstrument(int names);
    ~FastInstrument();
    FastInstrument(const FastInstrument&) = delete;
    FastInstrument& operator=(const FastInstrument&) = delete;

    std::uint16_t port() const { return port_; }
    std::size_t listingBytes() const { return listing_.size(); }

private:
    void serve();
    void answer(int fd, std::string_view line);

    std::string listing_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace bench
