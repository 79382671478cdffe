#include "platform/lumetra/vxi11_transport.h"

#include "platform/lumetra/net_util.h"
#include "platform/lumetra/rpc_stream.h"
#include "platform/lumetra/vxi11/vxi11_protocol.h"

#include <rpc/pmap_prot.h>
#include <unistd.h>

namespace lumetra {

namespace {

constexpr std::size_t MaxMessageBytes = std::size_t(256) << 20;
// Room in a reply record beside its data: the RPC reply header with the largest verifier, and
// the result's own words.
constexpr std::size_t ReplyOverheadBytes = 512;

long long remainingMs(Deadline deadline) {
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// The device's own timeouts end a little before ours, so that it answers "I/O timeout" before
// we give up on the reply.
unsigned long deviceTimeoutMs(Deadline deadline) {
    const long long left = remainingMs(deadline);
    if (left <= 0) {
        return 0;
    }
    const long long margin = std::min<long long>(left / 4, 100);
    return static_cast<unsigned long>(left - margin);
}

std::string unbracketed(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        return host.substr(1, host.size() - 2);
    }
    return host;
}

template <typename Routine> xdrproc_t xdrRoutine(Routine routine) {
    return reinterpret_cast<xdrproc_t>(routine);
}

Device_ReadParms readParameters(long link, std::uint32_t requestSize, Deadline deadline) {
    Device_ReadParms parameters{};
    parameters.lid = link;
    parameters.requestSize = requestSize;
    parameters.io_timeout = deviceTimeoutMs(deadline);
    parameters.lock_timeout = parameters.io_timeout;
    parameters.flags = vxi11::FlagWaitLock;
    parameters.termChar = 0;
    return parameters;
}

} // namespace

std::uint16_t vxi11PortFromPortmapper(const std::string& hostText, Deadline deadline) {
    const std::string host = unbracketed(hostText);
    const std::string where = "the portmapper at " + net::endpoint(host, PMAPPORT);
    const int fd = net::connectTcp(host, PMAPPORT, deadline);
    pmap query{};
    query.pm_prog = DEVICE_CORE;
    query.pm_vers = DEVICE_CORE_VERSION;
    query.pm_prot = IPPROTO_TCP;
    query.pm_port = 0;
    u_long port = 0;
    try {
        RpcStream portmapper(fd, PMAPPROG, PMAPVERS, ReplyOverheadBytes);
        IoDeadline callDeadline(deadline);
        portmapper.call(PMAPPROC_GETPORT, xdrRoutine(xdr_pmap), &query, xdrRoutine(xdr_u_long),
                        &port, callDeadline, "asking for the VXI-11 port", where);
    } catch (const Error& error) {
        ::close(fd);
        // The portmapper's link is not the instrument's: a broken one means "not there".
        throw Error(error.code() == status::ErrorTimeout ? status::ErrorTimeout
                                                         : status::ErrorMachineNotAvailable,
                    error.what());
    }
    ::close(fd);
    if (port == 0 || port > 65535) {
        throw Error(status::ErrorResourceNotFound, where + " knows no VXI-11 service");
    }
    return static_cast<std::uint16_t>(port);
}

Vxi11Transport::Vxi11Transport(std::string host, std::string deviceName,
                               std::optional<std::uint16_t> port, std::uint32_t readRequestSize)
    : host_(unbracketed(host)), deviceName_(std::move(deviceName)), configuredPort_(port),
      readRequestSize_(std::clamp<std::uint32_t>(readRequestSize, 1, VXI11_MAX_DATA)) {}

Vxi11Transport::~Vxi11Transport() {
    close();
}

std::string Vxi11Transport::where() const {
    return deviceName_ + " at " +
           net::endpoint(host_, linkPort_ ? linkPort_ : configuredPort_.value_or(0));
}

template <typename Step>
void Vxi11Transport::onCore(IoDeadline& deadline, const char* what, Step&& step) {
    if (Clock::now() >= deadline.due()) {
        throw Error(status::ErrorTimeout, std::string("timeout before ") + what + " to " + where());
    }
    lastTimeout_ = std::chrono::milliseconds(std::max<long long>(remainingMs(deadline.due()), 1));
    try {
        step();
    } catch (const Error&) {
        healthy_ = false;
        close();
        throw;
    }
}

void Vxi11Transport::callCore(unsigned long procedure, void* encode, void* arguments, void* decode,
                              void* result, IoDeadline& deadline, const char* what) {
    onCore(deadline, what, [&] {
        core_->call(static_cast<std::uint32_t>(procedure), xdrRoutine(encode), arguments,
                    xdrRoutine(decode), result, deadline, what, where());
    });
}

void Vxi11Transport::failDevice(long error, const char* what) {
    const std::string text =
        std::string(what) + " on " + where() + " failed with VXI-11 error " + std::to_string(error);
    switch (error) {
    case vxi11::ErrorIoTimeout:
        throw Error(status::ErrorTimeout, "timeout: " + text);
    case vxi11::ErrorInvalidLink:
        healthy_ = false;
        close();
        throw Error(status::ErrorConnectionLost, text + " (the instrument forgot the link)");
    case vxi11::ErrorDeviceLocked:
        throw Error(status::ErrorResourceLocked, text + " (locked by another link)");
    case vxi11::ErrorNotAccessible:
        throw Error(status::ErrorResourceNotFound, text + " (no such device)");
    case vxi11::ErrorNotSupported:
        throw Error(status::ErrorOperationNotSupported, text);
    default:
        throw Error(status::ErrorIo, text);
    }
}

void Vxi11Transport::open(Deadline deadline) {
    close();
    const std::uint16_t port =
        configuredPort_ ? *configuredPort_ : vxi11PortFromPortmapper(host_, deadline);
    fd_ = net::connectTcp(host_, port, deadline);
    linkPort_ = port;
    core_ = std::make_unique<RpcStream>(fd_, DEVICE_CORE, DEVICE_CORE_VERSION,
                                        readRequestSize_ + ReplyOverheadBytes);
    healthy_ = true;
    Create_LinkParms parameters{};
    parameters.clientId = static_cast<long>(::getpid() & 0x7fffffff);
    parameters.lockDevice = FALSE;
    parameters.lock_timeout = deviceTimeoutMs(deadline);
    parameters.device = deviceName_.data();
    Create_LinkResp reply{};
    IoDeadline callDeadline(deadline);
    callCore(vxi11::ProcCreateLink, reinterpret_cast<void*>(xdr_Create_LinkParms), &parameters,
             reinterpret_cast<void*>(xdr_Create_LinkResp), &reply, callDeadline, "create_link");
    if (reply.error != 0) {
        healthy_ = false;
        const long error = reply.error;
        try {
            failDevice(error, "create_link");
        } catch (...) {
            close();
            throw;
        }
    }
    link_ = reply.lid;
    // Every server takes at least 1024 bytes per write.
    maxWriteSize_ = static_cast<std::uint32_t>(
        std::clamp<unsigned long>(reply.maxRecvSize, 1024, VXI11_MAX_DATA));
}

void Vxi11Transport::close() noexcept {
    if (core_ && healthy_ && !net::peerHasClosed(fd_)) {
        // Polite, but bounded: the instrument frees the link when the connection ends anyway.
        try {
            IoDeadline deadline(Clock::now() +
                                std::min(lastTimeout_, std::chrono::milliseconds(1000)));
            Device_Link link = link_;
            Device_Error reply{};
            core_->call(vxi11::ProcDestroyLink, xdrRoutine(xdr_Device_Link), &link,
                        xdrRoutine(xdr_Device_Error), &reply, deadline, "destroy_link", where());
        } catch (const Error&) {
            // The link ends with the connection below.
        }
    }
    core_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    healthy_ = false;
    linkPort_ = 0;
}

void Vxi11Transport::write(std::string_view message, IoDeadline deadline) {
    if (!core_) {
        throw Error(status::ErrorInvalidObject, "the link to " + where() + " is not open");
    }
    std::size_t sent = 0;
    do {
        const std::size_t length = std::min<std::size_t>(message.size() - sent, maxWriteSize_);
        const bool last = sent + length == message.size();
        Device_WriteParms parameters{};
        parameters.lid = link_;
        parameters.io_timeout = deviceTimeoutMs(deadline.due());
        parameters.lock_timeout = parameters.io_timeout;
        parameters.flags = vxi11::FlagWaitLock | (last ? vxi11::FlagEnd : 0);
        parameters.data.data_len = static_cast<u_int>(length);
        parameters.data.data_val = const_cast<char*>(message.data() + sent);
        Device_WriteResp reply{};
        callCore(vxi11::ProcDeviceWrite, reinterpret_cast<void*>(xdr_Device_WriteParms),
                 &parameters, reinterpret_cast<void*>(xdr_Device_WriteResp), &reply, deadline,
                 "device_write");
        if (reply.error != 0) {
            if (sent > 0 && reply.error == vxi11::ErrorIoTimeout) {
                // Half a message at the instrument would corrupt the next one: drop the link.
                close();
            }
            failDevice(reply.error, "device_write");
        }
        sent += std::min<std::size_t>(reply.size, length);
        if (reply.size == 0 && length > 0 && Clock::now() >= deadline.due()) {
            throw Error(status::ErrorTimeout, "timeout while sending to " + where());
        }
    } while (sent < message.size());
}

std::string Vxi11Transport::read(IoDeadline deadline) {
    if (!core_) {
        throw Error(status::ErrorInvalidObject, "the link to " + where() + " is not open");
    }
    return readReply(deadline, std::nullopt);
}

std::string Vxi11Transport::query(std::string_view message, IoDeadline deadline) {
    if (!core_) {
        throw Error(status::ErrorInvalidObject, "the link to " + where() + " is not open");
    }
    if (message.size() > maxWriteSize_) {
        return Transport::query(message, deadline);
    }
    Device_WriteParms writing{};
    writing.lid = link_;
    writing.io_timeout = deviceTimeoutMs(deadline.due());
    writing.lock_timeout = writing.io_timeout;
    writing.flags = vxi11::FlagWaitLock | vxi11::FlagEnd;
    writing.data.data_len = static_cast<u_int>(message.size());
    writing.data.data_val = const_cast<char*>(message.data());
    Device_ReadParms reading = readParameters(link_, readRequestSize_, deadline.due());
    Device_WriteResp written{};
    std::uint32_t readId = 0;
    onCore(deadline, "device_write", [&] {
        const std::uint32_t writeId =
            core_->queue(vxi11::ProcDeviceWrite, xdrRoutine(xdr_Device_WriteParms), &writing,
                         "device_write", where());
        readId = core_->queue(vxi11::ProcDeviceRead, xdrRoutine(xdr_Device_ReadParms), &reading,
                              "device_read", where());
        core_->sendQueued(deadline, "device_write", where());
        core_->receive(writeId, xdrRoutine(xdr_Device_WriteResp), &written, deadline,
                       "device_write", where());
    });
    if (written.error != 0 || written.size < message.size()) {
        // The read sent behind the write would wait for a reply that is not coming; the link
        // goes rather than wait it out, and the next operation opens a fresh one.
        healthy_ = false;
        close();
        if (written.error != 0) {
            failDevice(written.error, "device_write");
        }
        throw Error(status::ErrorIo, "device_write on " + where() + " took " +
                                         std::to_string(written.size) + " of " +
                                         std::to_string(message.size()) + " bytes");
    }
    deadline.progress();
    return readReply(deadline, readId);
}

std::string Vxi11Transport::readReply(IoDeadline& deadline, std::optional<std::uint32_t> sentRead) {
    std::string message;
    for (;;) {
        Device_ReadResp reply{};
        if (sentRead) {
            onCore(deadline, "device_read", [&] {
                core_->receive(*sentRead, xdrRoutine(xdr_Device_ReadResp), &reply, deadline,
                               "device_read", where());
            });
            sentRead.reset();
        } else {
            Device_ReadParms parameters = readParameters(link_, readRequestSize_, deadline.due());
            callCore(vxi11::ProcDeviceRead, reinterpret_cast<void*>(xdr_Device_ReadParms),
                     &parameters, reinterpret_cast<void*>(xdr_Device_ReadResp), &reply, deadline,
                     "device_read");
        }
        const long error = reply.error;
        const long reason = reply.reason;
        message.append(reply.data.data_val, reply.data.data_len);
        RpcStream::release(xdrRoutine(xdr_Device_ReadResp), &reply);
        if (error != 0) {
            // A reply cut short must not be taken for the next one: the session drops the link.
            failDevice(error, "device_read");
        }
        if (reason & vxi11::ReasonEnd) {
            break;
        }
        if (message.size() > MaxMessageBytes) {
            close();
            throw Error(status::ErrorIo, "reply from " + where() + " exceeds the size limit");
        }
        if (Clock::now() >= deadline.due()) {
            throw Error(status::ErrorTimeout, "timeout while reading a reply from " + where());
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

void Vxi11Transport::deviceClear(Deadline deadline) {
    if (core_ && peerHasClosed()) {
        healthy_ = false;
        close();
    }
    if (!core_) {
        open(deadline);
    }
    Device_GenericParms parameters{};
    parameters.lid = link_;
    parameters.flags = vxi11::FlagWaitLock;
    parameters.io_timeout = deviceTimeoutMs(deadline);
    parameters.lock_timeout = parameters.io_timeout;
    Device_Error reply{};
    IoDeadline callDeadline(deadline);
    callCore(vxi11::ProcDeviceClear, reinterpret_cast<void*>(xdr_Device_GenericParms), &parameters,
             reinterpret_cast<void*>(xdr_Device_Error), &reply, callDeadline, "device_clear");
    if (reply.error != 0) {
        failDevice(reply.error, "device_clear");
    }
}

bool Vxi11Transport::peerHasClosed() {
    return net::peerHasClosed(fd_);
}

std::size_t Vxi11Transport::dropUnread(bool askLink) {
    // Replies come only as answers to our own calls, matched by their ids; all that is left to
    // notice is a peer that closed, which is then never talked to again.
    if (askLink && core_ && peerHasClosed()) {
        healthy_ = false;
        close();
    }
    return 0;
}

} // namespace lumetra
