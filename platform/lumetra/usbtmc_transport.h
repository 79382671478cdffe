#pragma once

#include "platform/lumetra/resource_name.h"
#include "platform/lumetra/transport.h"

#include <cstddef>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lumetra {

// The few calls the USBTMC link makes on the kernel's usbtmc character device. Production uses
// the system calls themselves; tests put a stand-in with the driver's behaviour in their place.
class UsbtmcDeviceIo {
public:
    virtual ~UsbtmcDeviceIo() = default;
    virtual int open(const std::string& path) = 0; // -1 and errno on failure
    virtual ssize_t read(int fd, void* buffer, std::size_t size) = 0;
    virtual ssize_t write(int fd, const void* buffer, std::size_t size) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void close(int fd) = 0;
};

// open(2), read(2), write(2), ioctl(2), close(2).
std::shared_ptr<UsbtmcDeviceIo> systemUsbtmcIo();

// Where the kernel shows usbtmc devices: <sysRoot>/class/usbmisc/usbtmcN, <devRoot>/usbtmcN.
struct UsbtmcRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

struct UsbtmcDevice {
    std::string path; // e.g. /dev/usbtmc0
    UsbInstrAddress address;
};

// The usbtmc devices present now, in the order of their device numbers.
std::vector<UsbtmcDevice> findUsbtmcDevices(const UsbtmcRoots& roots = {});

// USBTMC through the Linux usbtmc driver: the device is found by vendor, product, serial
// number and interface at open. One write(2) is one message; a reply is read until a read comes
// back short of the buffer (the driver's end of message). Before each call the driver's timeout
// is set to what is left of the deadline, but never below the driver's floor of 100 ms. Device
// clear is the driver's clear request.
class UsbtmcTransport final : public Transport {
public:
    explicit UsbtmcTransport(UsbInstrAddress address,
                             std::shared_ptr<UsbtmcDeviceIo> io = systemUsbtmcIo(),
                             UsbtmcRoots roots = {}, std::size_t readSize = 64 * 1024);
    ~UsbtmcTransport() override;

    void open(Deadline deadline) override;
    void close() noexcept override;
    bool isOpen() const override { return fd_ >= 0; }
    void write(std::string_view message, IoDeadline deadline) override;
    std::string read(IoDeadline deadline) override;
    void deviceClear(Deadline deadline) override;

    static constexpr unsigned DriverTimeoutFloorMs = 100;

private:
    void boundNextCall(Deadline deadline, const char* what);
    [[noreturn]] void fail(const std::string& what, int error);
    std::string name() const;

    UsbInstrAddress address_;
    std::shared_ptr<UsbtmcDeviceIo> io_;
    UsbtmcRoots roots_;
    std::size_t readSize_;
    std::string path_;
    int fd_ = -1;
    unsigned timeoutMs_ = 0;
};

} // namespace lumetra
