#pragma once

#include <cstddef>
#include <string>

namespace sim {

// One TCP connection carrying ONC RPC records: the VXI-11 core or abort channel, or the
// portmapper.
struct RpcConnection {
    int fd = -1;
    std::string input;
    std::string output;
    bool dead = false;
    std::ptrdiff_t pollIndex = -1;

    short pollEvents() const;
    // Reads what arrived onto `input`.
    void receive();
    // Takes the next whole call record off `input`; a stream that cannot be one makes it dead.
    bool takeRecord(std::string& record);
    // Queues a reply as one record.
    void reply(const std::string& message);
    void flush();
    void close();
};

} // namespace sim
