#pragma once

#include "platform/lumetra/vxi11/vxi11_protocol.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <rpc/rpc.h>
#include <stdexcept>
#include <string>

namespace scopesim_test {

namespace vxi11 = lumetra::vxi11;

// A VXI-11 client made of the system's RPC library, independent of the project's own.
class RpcChannel {
public:
    RpcChannel(std::uint16_t port, u_long program, u_long version) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int socket = RPC_ANYSOCK;
        client_ = clnttcp_create(&address, program, version, &socket, 0, 0);
    }
    ~RpcChannel() {
        if (client_ != nullptr) {
            clnt_destroy(client_);
        }
    }
    RpcChannel(const RpcChannel&) = delete;
    RpcChannel& operator=(const RpcChannel&) = delete;

    bool connected() const { return client_ != nullptr; }

    // RPC_SUCCESS, or what went wrong on the way.
    template <typename Arguments, typename Result>
    clnt_stat call(u_long procedure, xdrproc_t encode, Arguments& arguments, xdrproc_t decode,
                   Result& result, std::chrono::seconds timeout = std::chrono::seconds(10)) {
        if (client_ == nullptr) {
            return RPC_CANTSEND;
        }
        timeval wait{static_cast<time_t>(timeout.count()), 0};
        return clnt_call(client_, procedure, encode, reinterpret_cast<caddr_t>(&arguments), decode,
                         reinterpret_cast<caddr_t>(&result), wait);
    }

    template <typename Result> void release(xdrproc_t decode, Result& result) {
        clnt_freeres(client_, decode, reinterpret_cast<caddr_t>(&result));
    }

private:
    CLIENT* client_ = nullptr;
};

struct ReadResult {
    long error = -1;
    long reason = 0;
    std::string data;
};

class Vxi11Client {
public:
    explicit Vxi11Client(std::uint16_t port) : core_(port, DEVICE_CORE, DEVICE_CORE_VERSION) {}

    bool connected() const { return core_.connected(); }

    Create_LinkResp createLink(const char* device = "inst0", bool lockDevice = false,
                               unsigned long lockTimeout = 0) {
        Create_LinkParms parameters{};
        parameters.clientId = 1;
        parameters.lockDevice = lockDevice;
        parameters.lock_timeout = lockTimeout;
        parameters.device = const_cast<char*>(device);
        Create_LinkResp result{};
        result.error = -1;
        last_ = core_.call(vxi11::ProcCreateLink, reinterpret_cast<xdrproc_t>(xdr_Create_LinkParms),
                           parameters, reinterpret_cast<xdrproc_t>(xdr_Create_LinkResp), result);
        return result;
    }

    long write(long link, const std::string& text, long flags = vxi11::FlagEnd,
               unsigned long lockTimeout = 0) {
        Device_WriteParms parameters{};
        parameters.lid = link;
        parameters.io_timeout = 5000;
        parameters.lock_timeout = lockTimeout;
        parameters.flags = flags;
        parameters.data.data_len = static_cast<u_int>(text.size());
        parameters.data.data_val = const_cast<char*>(text.data());
        Device_WriteResp result{};
        result.error = -1;
        last_ =
            core_.call(vxi11::ProcDeviceWrite, reinterpret_cast<xdrproc_t>(xdr_Device_WriteParms),
                       parameters, reinterpret_cast<xdrproc_t>(xdr_Device_WriteResp), result);
        return result.error;
    }

    ReadResult read(long link, unsigned long ioTimeout = 5000, long flags = 0,
                    unsigned long lockTimeout = 0) {
        Device_ReadParms parameters{};
        parameters.lid = link;
        parameters.requestSize = 1 << 20;
        parameters.io_timeout = ioTimeout;
        parameters.lock_timeout = lockTimeout;
        parameters.flags = flags;
        Device_ReadResp result{};
        result.error = -1;
        last_ = core_.call(vxi11::ProcDeviceRead, reinterpret_cast<xdrproc_t>(xdr_Device_ReadParms),
                           parameters, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), result);
        ReadResult read;
        if (last_ == RPC_SUCCESS) {
            read.error = result.error;
            read.reason = result.reason;
            read.data.assign(result.data.data_val, result.data.data_len);
            core_.release(reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), result);
        }
        return read;
    }

    // One message written and its reply read; nothing when either fails.
    std::optional<std::string> query(long link, const std::string& text) {
        if (write(link, text) != 0) {
            return std::nullopt;
        }
        ReadResult reply = read(link);
        if (reply.error != 0) {
            return std::nullopt;
        }
        if (!reply.data.empty() && reply.data.back() == '\n') {
            reply.data.pop_back();
        }
        return reply.data;
    }

    // The status byte, or the error negated; -1 when the call itself failed.
    int readStb(long link, long flags = 0, unsigned long lockTimeout = 0) {
        Device_GenericParms parameters = generic(link, flags, lockTimeout);
        Device_ReadStbResp result{};
        result.error = -1;
        last_ = core_.call(vxi11::ProcDeviceReadStb,
                           reinterpret_cast<xdrproc_t>(xdr_Device_GenericParms), parameters,
                           reinterpret_cast<xdrproc_t>(xdr_Device_ReadStbResp), result);
        if (last_ != RPC_SUCCESS) {
            return -1;
        }
        return result.error == 0 ? static_cast<int>(result.stb) : -static_cast<int>(result.error);
    }

    long trigger(long link, long flags = 0, unsigned long lockTimeout = 0) {
        return genericCall(vxi11::ProcDeviceTrigger, link, flags, lockTimeout);
    }
    long clear(long link, long flags = 0, unsigned long lockTimeout = 0) {
        return genericCall(vxi11::ProcDeviceClear, link, flags, lockTimeout);
    }

    long lock(long link, long flags = 0, unsigned long lockTimeout = 0) {
        Device_LockParms parameters{};
        parameters.lid = link;
        parameters.flags = flags;
        parameters.lock_timeout = lockTimeout;
        return errorOf(vxi11::ProcDeviceLock, reinterpret_cast<xdrproc_t>(xdr_Device_LockParms),
                       parameters);
    }
    long unlock(long link) {
        Device_Link id = link;
        return errorOf(vxi11::ProcDeviceUnlock, reinterpret_cast<xdrproc_t>(xdr_Device_Link), id);
    }
    long destroyLink(long link) {
        Device_Link id = link;
        return errorOf(vxi11::ProcDestroyLink, reinterpret_cast<xdrproc_t>(xdr_Device_Link), id);
    }

    // How the last call went on the wire.
    clnt_stat last() const { return last_; }

private:
    static Device_GenericParms generic(long link, long flags, unsigned long lockTimeout) {
        Device_GenericParms parameters{};
        parameters.lid = link;
        parameters.flags = flags;
        parameters.lock_timeout = lockTimeout;
        parameters.io_timeout = 5000;
        return parameters;
    }
    long genericCall(u_long procedure, long link, long flags, unsigned long lockTimeout) {
        Device_GenericParms parameters = generic(link, flags, lockTimeout);
        return errorOf(procedure, reinterpret_cast<xdrproc_t>(xdr_Device_GenericParms), parameters);
    }
    template <typename Arguments>
    long errorOf(u_long procedure, xdrproc_t encode, Arguments& arguments) {
        Device_Error result{-1};
        last_ = core_.call(procedure, encode, arguments,
                           reinterpret_cast<xdrproc_t>(xdr_Device_Error), result);
        return result.error;
    }

    RpcChannel core_;
    clnt_stat last_ = RPC_SUCCESS;
};

// device_abort on the abort channel a link's create_link named.
inline long abortLink(std::uint16_t abortPort, long link) {
    RpcChannel channel(abortPort, DEVICE_ASYNC, DEVICE_ASYNC_VERSION);
    Device_Link id = link;
    Device_Error result{-1};
    if (channel.call(vxi11::ProcDeviceAbort, reinterpret_cast<xdrproc_t>(xdr_Device_Link), id,
                     reinterpret_cast<xdrproc_t>(xdr_Device_Error), result) != RPC_SUCCESS) {
        return -1;
    }
    return result.error;
}

} // namespace scopesim_test
