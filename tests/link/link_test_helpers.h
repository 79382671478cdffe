#pragma once

#include "platform/lumetra/status.h"

#include <QTest>
#include <arpa/inet.h>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing {

// The completion code an operation fails with, or success when it does not fail.
inline lumetra::Status failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const lumetra::Error& error) {
        return error.code();
    }
    return lumetra::status::Success;
}

// The error an operation fails with; a test failure when it does not fail.
inline lumetra::Error errorOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const lumetra::Error& error) {
        return error;
    }
    QTest::qFail("the operation did not fail", __FILE__, __LINE__);
    return lumetra::Error(lumetra::status::Success, "");
}

// A loopback port on which nothing listens.
inline std::uint16_t closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace testing
