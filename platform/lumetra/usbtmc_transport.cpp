#include "platform/lumetra/usbtmc_transport.h"

#include "platform/lumetra/net_util.h"
#include "platform/lumetra/reply_scanner.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/usb/tmc.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace lumetra {

namespace {

constexpr std::size_t MaxMessageBytes = std::size_t(256) << 20;

class SystemIo final : public UsbtmcDeviceIo {
public:
    int open(const std::string& path) override { return ::open(path.c_str(), O_RDWR | O_CLOEXEC); }
    ssize_t read(int fd, void* buffer, std::size_t size) override {
        return ::read(fd, buffer, size);
    }
    ssize_t write(int fd, const void* buffer, std::size_t size) override {
        return ::write(fd, buffer, size);
    }
    int ioctl(int fd, unsigned long request, void* argument) override {
        return ::ioctl(fd, request, argument);
    }
    void close(int fd) override { ::close(fd); }
};

std::string firstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

std::optional<unsigned long> hexNumber(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    try {
        std::size_t used = 0;
        const unsigned long value = std::stoul(text, &used, 16);
        return used == text.size() ? std::optional<unsigned long>(value) : std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

std::shared_ptr<UsbtmcDeviceIo> systemUsbtmcIo() {
    static const auto io = std::make_shared<SystemIo>();
    return io;
}

std::vector<UsbtmcDevice> findUsbtmcDevices(const UsbtmcRoots& roots) {
    namespace fs = std::filesystem;
    std::vector<std::pair<unsigned long, UsbtmcDevice>> found;
    std::error_code ec;
    const fs::path classDir = fs::path(roots.sys) / "class" / "usbmisc";
    for (const auto& entry : fs::directory_iterator(classDir, ec)) {
        const std::string node = entry.path().filename().string();
        if (node.rfind("usbtmc", 0) != 0 || node.size() == 6 ||
            node.find_first_not_of("0123456789", 6) != std::string::npos) {
            continue;
        }
        const fs::path devicePath = fs::path(roots.dev) / node;
        if (!fs::exists(devicePath, ec)) {
            continue;
        }
        // <class>/usbtmcN/device is the USB interface; its parent folder is the USB device.
        const fs::path interface = fs::canonical(entry.path() / "device", ec);
        if (ec) {
            continue;
        }
        const fs::path usbDevice = interface.parent_path();
        const auto vendor = hexNumber(firstLine(usbDevice / "idVendor"));
        const auto product = hexNumber(firstLine(usbDevice / "idProduct"));
        const auto number = hexNumber(firstLine(interface / "bInterfaceNumber"));
        const std::string serial = firstLine(usbDevice / "serial");
        if (!vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF) {
            continue;
        }
        UsbtmcDevice device;
        device.path = devicePath.string();
        device.address.vendorId = static_cast<std::uint16_t>(*vendor);
        device.address.productId = static_cast<std::uint16_t>(*product);
        device.address.serialNumber = serial;
        device.address.interfaceNumber = number ? static_cast<unsigned>(*number & 0xFF) : 0;
        found.emplace_back(std::stoul(node.substr(6)), std::move(device));
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<UsbtmcDevice> devices;
    for (auto& [number, device] : found) {
        devices.push_back(std::move(device));
    }
    return devices;
}

UsbtmcTransport::UsbtmcTransport(UsbInstrAddress address, std::shared_ptr<UsbtmcDeviceIo> io,
                                 UsbtmcRoots roots, std::size_t readSize)
    : address_(std::move(address)), io_(std::move(io)), roots_(std::move(roots)),
      readSize_(std::max<std::size_t>(readSize, 64)) {}

UsbtmcTransport::~UsbtmcTransport() {
    close();
}

std::string UsbtmcTransport::name() const {
    char ids[32];
    std::snprintf(ids, sizeof ids, "0x%04X:0x%04X", static_cast<unsigned>(address_.vendorId),
                  static_cast<unsigned>(address_.productId));
    return std::string("USB device ") + ids + " serial " + address_.serialNumber +
           (path_.empty() ? "" : " (" + path_ + ")");
}

void UsbtmcTransport::open(Deadline deadline) {
    close();
    if (Clock::now() >= deadline) {
        throw Error(status::ErrorTimeout, "timeout before opening " + name());
    }
    for (const UsbtmcDevice& device : findUsbtmcDevices(roots_)) {
        const UsbInstrAddress& found = device.address;
        if (found.vendorId == address_.vendorId && found.productId == address_.productId &&
            found.serialNumber == address_.serialNumber &&
            found.interfaceNumber == address_.interfaceNumber) {
            path_ = device.path;
            break;
        }
    }
    if (path_.empty()) {
        throw Error(status::ErrorResourceNotFound,
                    name() + " is not present (no matching usbtmc device)");
    }
    fd_ = io_->open(path_);
    if (fd_ < 0) {
        const int error = errno;
        path_.clear();
        throw Error(error == ENOENT || error == ENODEV ? status::ErrorResourceNotFound
                                                       : status::ErrorIo,
                    "cannot open " + name() + net::errnoText(error));
    }
    timeoutMs_ = 0;
}

void UsbtmcTransport::close() noexcept {
    if (fd_ >= 0) {
        io_->close(fd_);
        fd_ = -1;
    }
    path_.clear();
}

void UsbtmcTransport::fail(const std::string& what, int error) {
    if (error == ETIMEDOUT) {
        throw Error(status::ErrorTimeout, "timeout while " + what + " " + name());
    }
    const std::string text = what + " " + name() + " failed" + net::errnoText(error);
    if (error == ENODEV || error == ENXIO || error == EPIPE || error == ESHUTDOWN) {
        close();
        throw Error(status::ErrorConnectionLost, text);
    }
    throw Error(status::ErrorIo, text);
}

void UsbtmcTransport::boundNextCall(Deadline deadline, const char* what) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        throw Error(status::ErrorTimeout, std::string("timeout before ") + what + " " + name());
    }
    std::uint32_t ms =
        static_cast<std::uint32_t>(std::clamp<long long>(left, DriverTimeoutFloorMs, 0x7fffffff));
    if (ms == timeoutMs_) {
        return;
    }
    if (io_->ioctl(fd_, USBTMC_IOCTL_SET_TIMEOUT, &ms) != 0) {
        fail("setting the timeout of", errno);
    }
    timeoutMs_ = ms;
}

void UsbtmcTransport::write(std::string_view message, IoDeadline deadline) {
    if (fd_ < 0) {
        throw Error(status::ErrorInvalidObject, name() + " is not open");
    }
    boundNextCall(deadline.due(), "sending to");
    for (;;) {
        const ssize_t n = io_->write(fd_, message.data(), message.size());
        if (n == static_cast<ssize_t>(message.size())) {
            return;
        }
        const int error = n < 0 ? errno : EIO;
        if (n < 0 && error == EINTR) {
            continue;
        }
        fail("sending to", error);
    }
}

std::string UsbtmcTransport::read(IoDeadline deadline) {
    if (fd_ < 0) {
        throw Error(status::ErrorInvalidObject, name() + " is not open");
    }
    std::string message;
    std::vector<char> buffer(readSize_);
    ReplyScanner scanner;
    for (;;) {
        boundNextCall(deadline.due(), "reading from");
        const ssize_t n = io_->read(fd_, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Part of a reply is never handed out: the session drops the link on a timeout.
            fail("reading from", errno);
        }
        message.append(buffer.data(), static_cast<std::size_t>(n));
        deadline.progress();
        // A short read is the driver's end of message. A full one may end the message too when
        // the reply is exactly that long: a complete SCPI message then ends it, as asking again
        // would wait for a reply that never comes.
        if (static_cast<std::size_t>(n) < buffer.size() ||
            scanner.scan(message) == message.size()) {
            break;
        }
        if (message.size() > MaxMessageBytes) {
            close();
            throw Error(status::ErrorIo, "reply from " + name() + " exceeds the size limit");
        }
    }
    if (!message.empty() && message.back() == '\n') {
        message.pop_back();
        if (!message.empty() && message.back() == '\r') {
            message.pop_back();
        }
    }
    return message;
}

void UsbtmcTransport::deviceClear(Deadline deadline) {
    if (fd_ < 0) {
        open(deadline);
    }
    boundNextCall(deadline, "clearing");
    if (io_->ioctl(fd_, USBTMC_IOCTL_CLEAR, nullptr) != 0) {
        fail("clearing", errno);
    }
}

} // namespace lumetra
