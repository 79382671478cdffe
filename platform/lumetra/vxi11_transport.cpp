#include "platform/lumetra/vxi11_transport.h"

#include "platform/lumetra/net_util.h"
#include "platform/lumetra/vxi11/vxi11_protocol.h"

#include <rpc/pmap_prot.h>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumetra {

namespace {

constexpr std::size_t MaxMessageBytes = std::size_t(256) << 20;

CLIENT* rpc(void* client) {
    return static_cast<CLIENT*>(client);
}

long long remainingMs(Deadline deadline) {
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// The device's own timeouts end a little before ours, so that it answers "I/O timeout" before
// our RPC call gives up on the reply.
unsigned long deviceTimeoutMs(Deadline deadline) {
    const long long left = remainingMs(deadline);
    if (left <= 0) {
        return 0;
    }
    const long long margin = std::min<long long>(left / 4, 100);
    return static_cast<unsigned long>(left - margin);
}

timeval rpcTimeout(Deadline deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    // Zero would mean "send and do not wait for a reply".
    const long long us = std::max<long long>(left, 1000);
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(us / 1'000'000);
    tv.tv_usec = static_cast<suseconds_t>(us % 1'000'000);
    return tv;
}

std::string unbracketed(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        return host.substr(1, host.size() - 2);
    }
    return host;
}

// An RPC client on an already connected TCP socket, so that connecting was bounded by us.
CLIENT* clientOn(int fd, unsigned long program, unsigned long version) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        return nullptr;
    }
    netbuf address{};
    address.maxlen = sizeof peer;
    address.len = length;
    address.buf = &peer;
    return ::clnt_vc_create(fd, &address, program, version, 0, 0);
}

[[noreturn]] void throwRpcFailure(clnt_stat stat, const std::string& what,
                                  const std::string& where) {
    const std::string text = what + " to " + where + " failed: " + ::clnt_sperrno(stat);
    if (stat == RPC_TIMEDOUT) {
        throw Error(status::ErrorTimeout, "timeout: " + text);
    }
    if (stat == RPC_CANTSEND || stat == RPC_CANTRECV || stat == RPC_CANTDECODERES) {
        throw Error(status::ErrorConnectionLost, text);
    }
    if (stat == RPC_PROGUNAVAIL || stat == RPC_PROGVERSMISMATCH || stat == RPC_PROCUNAVAIL) {
        throw Error(status::ErrorResourceNotFound, text);
    }
    throw Error(status::ErrorIo, text);
}

} // namespace

std::uint16_t vxi11PortFromPortmapper(const std::string& hostText, Deadline deadline) {
    const std::string host = unbracketed(hostText);
    const std::string where = net::endpoint(host, PMAPPORT);
    const int fd = net::connectTcp(host, PMAPPORT, deadline);
    CLIENT* client = clientOn(fd, PMAPPROG, PMAPVERS);
    if (!client) {
        ::close(fd);
        throw Error(status::ErrorIo, "cannot talk RPC to the portmapper at " + where);
    }
    net::boundBlockingCalls(fd, deadline);
    pmap query{};
    query.pm_prog = DEVICE_CORE;
    query.pm_vers = DEVICE_CORE_VERSION;
    query.pm_prot = IPPROTO_TCP;
    query.pm_port = 0;
    u_long port = 0;
    const clnt_stat stat =
        clnt_call(client, PMAPPROC_GETPORT, reinterpret_cast<xdrproc_t>(xdr_pmap),
                  reinterpret_cast<char*>(&query), reinterpret_cast<xdrproc_t>(xdr_u_long),
                  reinterpret_cast<char*>(&port), rpcTimeout(deadline));
    clnt_destroy(client);
    ::close(fd);
    if (stat != RPC_SUCCESS) {
        try {
            throwRpcFailure(stat, "asking the portmapper for the VXI-11 port", where);
        } catch (const Error& error) {
            // The portmapper's link is not the instrument's: a broken one means "not there".
            throw Error(error.code() == status::ErrorTimeout ? status::ErrorTimeout
                                                             : status::ErrorMachineNotAvailable,
                        error.what());
        }
    }
    if (port == 0 || port > 65535) {
        throw Error(status::ErrorResourceNotFound,
                    "the portmapper at " + where + " knows no VXI-11 service");
    }
    return static_cast<std::uint16_t>(port);
}

Vxi11Transport::Vxi11Transport(std::string host, std::string deviceName,
                               std::optional<std::uint16_t> port, std::uint32_t readRequestSize)
    : host_(unbracketed(host)), deviceName_(std::move(deviceName)), configuredPort_(port),
      readRequestSize_(std::max<std::uint32_t>(readRequestSize, 1)) {}

Vxi11Transport::~Vxi11Transport() {
    close();
}

std::string Vxi11Transport::where() const {
    return deviceName_ + " at " +
           net::endpoint(host_, linkPort_ ? linkPort_ : configuredPort_.value_or(0));
}

void Vxi11Transport::callCore(unsigned long procedure, void* encode, void* arguments, void* decode,
                              void* result, Deadline deadline, const char* what) {
    if (Clock::now() >= deadline) {
        throw Error(status::ErrorTimeout, std::string("timeout before ") + what + " to " + where());
    }
    lastTimeout_ = std::chrono::milliseconds(std::max<long long>(remainingMs(deadline), 1));
    net::boundBlockingCalls(fd_, deadline);
    const clnt_stat stat = clnt_call(
        rpc(client_), procedure, reinterpret_cast<xdrproc_t>(encode), static_cast<char*>(arguments),
        reinterpret_cast<xdrproc_t>(decode), static_cast<char*>(result), rpcTimeout(deadline));
    if (stat != RPC_SUCCESS) {
        try {
            throwRpcFailure(stat, what, where());
        } catch (const Error&) {
            // After a failed call the stream may hold half a record: never use it again.
            healthy_ = false;
            close();
            throw;
        }
    }
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
    client_ = clientOn(fd_, DEVICE_CORE, DEVICE_CORE_VERSION);
    if (!client_) {
        close();
        throw Error(status::ErrorIo, "cannot set up an RPC client for " + where());
    }
    healthy_ = true;
    Create_LinkParms parameters{};
    parameters.clientId = static_cast<long>(::getpid() & 0x7fffffff);
    parameters.lockDevice = FALSE;
    parameters.lock_timeout = deviceTimeoutMs(deadline);
    parameters.device = deviceName_.data();
    Create_LinkResp reply{};
    callCore(vxi11::ProcCreateLink, reinterpret_cast<void*>(xdr_Create_LinkParms), &parameters,
             reinterpret_cast<void*>(xdr_Create_LinkResp), &reply, deadline, "create_link");
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
        std::clamp<unsigned long>(reply.maxRecvSize, 1024, std::uint32_t(1) << 24));
}

void Vxi11Transport::close() noexcept {
    if (client_) {
        if (healthy_) {
            // Polite, but bounded: the instrument frees the link when the connection ends anyway.
            const auto bound = std::min(lastTimeout_, std::chrono::milliseconds(1000));
            const Deadline deadline = Clock::now() + bound;
            net::boundBlockingCalls(fd_, deadline);
            Device_Link link = link_;
            Device_Error reply{};
            clnt_call(rpc(client_), vxi11::ProcDestroyLink,
                      reinterpret_cast<xdrproc_t>(xdr_Device_Link), reinterpret_cast<char*>(&link),
                      reinterpret_cast<xdrproc_t>(xdr_Device_Error),
                      reinterpret_cast<char*>(&reply), rpcTimeout(deadline));
        }
        clnt_destroy(rpc(client_));
        client_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    healthy_ = false;
    linkPort_ = 0;
}

void Vxi11Transport::write(std::string_view message, Deadline deadline) {
    if (!client_) {
        throw Error(status::ErrorInvalidObject, "the link to " + where() + " is not open");
    }
    std::size_t sent = 0;
    do {
        const std::size_t length = std::min<std::size_t>(message.size() - sent, maxWriteSize_);
        const bool last = sent + length == message.size();
        Device_WriteParms parameters{};
        parameters.lid = link_;
        parameters.io_timeout = deviceTimeoutMs(deadline);
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
        if (reply.size == 0 && length > 0 && Clock::now() >= deadline) {
            throw Error(status::ErrorTimeout, "timeout while sending to " + where());
        }
    } while (sent < message.size());
}

std::string Vxi11Transport::read(Deadline deadline) {
    if (!client_) {
        throw Error(status::ErrorInvalidObject, "the link to " + where() + " is not open");
    }
    std::string message;
    for (;;) {
        Device_ReadParms parameters{};
        parameters.lid = link_;
        parameters.requestSize = readRequestSize_;
        parameters.io_timeout = deviceTimeoutMs(deadline);
        parameters.lock_timeout = parameters.io_timeout;
        parameters.flags = vxi11::FlagWaitLock;
        parameters.termChar = 0;
        Device_ReadResp reply{};
        callCore(vxi11::ProcDeviceRead, reinterpret_cast<void*>(xdr_Device_ReadParms), &parameters,
                 reinterpret_cast<void*>(xdr_Device_ReadResp), &reply, deadline, "device_read");
        const long error = reply.error;
        const long reason = reply.reason;
        message.append(reply.data.data_val, reply.data.data_len);
        clnt_freeres(rpc(client_), reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp),
                     reinterpret_cast<char*>(&reply));
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
        if (Clock::now() >= deadline) {
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
    if (client_ && peerHasClosed()) {
        close();
    }
    if (!client_) {
        open(deadline);
    }
    Device_GenericParms parameters{};
    parameters.lid = link_;
    parameters.flags = vxi11::FlagWaitLock;
    parameters.io_timeout = deviceTimeoutMs(deadline);
    parameters.lock_timeout = parameters.io_timeout;
    Device_Error reply{};
    callCore(vxi11::ProcDeviceClear, reinterpret_cast<void*>(xdr_Device_GenericParms), &parameters,
             reinterpret_cast<void*>(xdr_Device_Error), &reply, deadline, "device_clear");
    if (reply.error != 0) {
        failDevice(reply.error, "device_clear");
    }
}

bool Vxi11Transport::peerHasClosed() {
    return net::peerHasClosed(fd_);
}

} // namespace lumetra
