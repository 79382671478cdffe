#pragma once

#include <cstdint>
#include <string>

namespace bench {

// The reference the benchmarks compare against: the plainest possible client, a blocking TCP
// socket that sends a line and reads up to the line feed.
class BareClient {
public:
    explicit BareClient(std::uint16_t port);
    ~BareClient();
    BareClient(const BareClient&) = delete;
    BareClient& operator=(const BareClient&) = delete;

    void write(const std::string& line);
    std::string query(const std::string& line);

private:
    int fd_ = -1;
    std::string pending_;
};

} // namespace bench
