#pragma once

#include "platform/lumetra/usbtmc_transport.h"
#include "sim/instrument.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/usb/tmc.h>
#include <mutex>
#include <sys/ioctl.h>
#include <thread>

namespace testing {

// Stands in for the kernel's usbtmc driver on one device, with the simulated instrument behind
// it: a write is one message, a read returns at most the buffer and comes back short at the end
// of the reply, a read with no reply waits for the driver's timeout and fails with ETIMEDOUT,
// timeouts below 100 ms are refused, and the clear request drops a pending reply.
class FakeUsbtmc final : public lumetra::UsbtmcDeviceIo {
public:
    FakeUsbtmc(std::string devicePath, std::string idn)
        : path_(std::move(devicePath)),
          instrument_(
              sim::InstrumentSetup{
                  idn, {}, std::chrono::milliseconds(100), std::chrono::milliseconds(50), 100},
              sim::SimClock::now()) {}

    int open(const std::string& path) override {
        if (path != path_) {
            errno = ENOENT;
            return -1;
        }
        ++opens;
        return 7;
    }
    ssize_t read(int fd, void* buffer, std::size_t size) override {
        if (fd != 7) {
            errno = EBADF;
            return -1;
        }
        if (reply_.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs_));
            errno = ETIMEDOUT;
            return -1;
        }
        const std::size_t n = std::min(size, reply_.size());
        std::memcpy(buffer, reply_.data(), n);
        reply_.erase(0, n);
        return static_cast<ssize_t>(n);
    }
    ssize_t write(int fd, const void* buffer, std::size_t size) override {
        if (fd != 7) {
            errno = EBADF;
            return -1;
        }
        std::string message(static_cast<const char*>(buffer), size);
        messages.push_back(message);
        if (!message.empty() && message.back() == '\n') {
            message.pop_back();
        }
        if (!stalled) {
            if (auto reply = instrument_.execute(message, sim::SimClock::now())) {
                reply_ += *reply + "\n";
            }
        }
        return static_cast<ssize_t>(size);
    }
    int ioctl(int fd, unsigned long request, void* argument) override {
        if (fd != 7) {
            errno = EBADF;
            return -1;
        }
        if (request == USBTMC_IOCTL_SET_TIMEOUT) {
            const auto ms = *static_cast<std::uint32_t*>(argument);
            if (ms < 100) {
                errno = EINVAL;
                return -1;
            }
            timeoutMs_ = ms;
            timeoutsSet.push_back(ms);
            return 0;
        }
        if (request == USBTMC_IOCTL_CLEAR) {
            ++clears;
            reply_.clear();
            return 0;
        }
        errno = ENOTTY;
        return -1;
    }
    void close(int) override {}

    bool stalled = false;
    int opens = 0;
    int clears = 0;
    std::vector<std::string> messages;
    std::vector<std::uint32_t> timeoutsSet;

private:
    std::string path_;
    sim::Instrument instrument_;
    std::string reply_;
    std::uint32_t timeoutMs_ = 5000;
};

// A sysfs and /dev in a temporary folder, showing one usbtmc device.
class FakeUsbTree {
public:
    FakeUsbTree(const QString& vendor = "1234", const QString& product = "5678",
                const QString& serial = "SN42", const QString& interface = "00") {
        QDir root(dir_.path());
        const QString usbDevice = "sys/devices/pci0000:00/usb1/1-1";
        const QString interfaceDir = usbDevice + "/1-1:1.0";
        root.mkpath(interfaceDir);
        root.mkpath("sys/class/usbmisc/usbtmc0");
        root.mkpath("dev");
        write(usbDevice + "/idVendor", vendor);
        write(usbDevice + "/idProduct", product);
        write(usbDevice + "/serial", serial);
        write(interfaceDir + "/bInterfaceNumber", interface);
        write("dev/usbtmc0", "");
        QFile::link(root.filePath(interfaceDir), root.filePath("sys/class/usbmisc/usbtmc0/device"));
    }
    lumetra::UsbtmcRoots roots() const {
        return {(dir_.path() + "/sys").toStdString(), (dir_.path() + "/dev").toStdString()};
    }
    std::string devicePath() const { return (dir_.path() + "/dev/usbtmc0").toStdString(); }

private:
    void write(const QString& relative, const QString& text) {
        QFile file(QDir(dir_.path()).filePath(relative));
        if (file.open(QIODevice::WriteOnly)) {
            file.write((text.isEmpty() ? QString() : text + "\n").toLatin1());
        }
    }
    QTemporaryDir dir_;
};

} // namespace testing
