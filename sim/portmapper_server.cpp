#include "sim/portmapper_server.h"

#include "platform/lumetra/vxi11/vxi11_protocol.h"
#include "sim/socket_setup.h"

#include <cerrno>
#include <cstring>
#include <rpc/pmap_prot.h>
#include <rpc/rpc.h>
#include <stdexcept>
#include <unistd.h>

namespace sim {

void PortmapperServer::bind(std::uint16_t port, std::uint16_t vxi11Port) {
    vxi11Port_ = vxi11Port;
    tcpFd_ = bindAnyAddress(SOCK_STREAM, port);
    udpFd_ = tcpFd_ < 0 ? -1 : bindAnyAddress(SOCK_DGRAM, port);
    if (udpFd_ < 0) {
        throw std::runtime_error("scopesim: cannot serve the portmapper on port " +
                                 std::to_string(port) + ": " + std::strerror(errno));
    }
    const int on = 1;
    ::setsockopt(udpFd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
}

void PortmapperServer::prepare(PollSet& poll) {
    tcpIndex_ = poll.add(tcpFd_, POLLIN);
    udpIndex_ = poll.add(udpFd_, POLLIN);
    for (RpcConnection& c : connections_) {
        c.pollIndex = poll.add(c.fd, c.pollEvents());
    }
}

void PortmapperServer::handle(const PollSet& poll) {
    answerCalls(connections_, poll, [&](const rpc::Call& call, const std::string& record) {
        return answer(call, record);
    });
    if ((poll.revents(tcpIndex_) & POLLIN) != 0) {
        acceptPending(tcpFd_, [&](int fd) {
            RpcConnection connection;
            connection.fd = fd;
            connections_.push_back(std::move(connection));
        });
    }
    if ((poll.revents(udpIndex_) & POLLIN) != 0) {
        answerDatagrams();
    }
    flushAndDropEnded(connections_);
}

void PortmapperServer::answerDatagrams() {
    char buffer[9000];
    for (;;) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(udpFd_, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        const std::string message(buffer, static_cast<std::size_t>(n));
        std::string refusal;
        const auto call = rpc::parseCall(message, refusal);
        const std::string reply = call ? answer(*call, message) : refusal;
        if (!reply.empty()) {
            ::sendto(udpFd_, reply.data(), reply.size(), 0,
                     reinterpret_cast<const sockaddr*>(&from), length);
        }
    }
}

std::string PortmapperServer::answer(const rpc::Call& call, const std::string& record) const {
    if (call.program != PMAPPROG) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramUnavailable);
    }
    if (call.version != PMAPVERS) {
        return rpc::acceptedReply(call.xid, rpc::AcceptProgramMismatch,
                                  rpc::versionRange(PMAPVERS, PMAPVERS));
    }
    switch (call.procedure) {
    case PMAPPROC_NULL:
        return rpc::acceptedReply(call.xid, rpc::AcceptSuccess);
    case PMAPPROC_SET:
    case PMAPPROC_UNSET: {
        bool_t no = FALSE;
        return rpc::acceptedReply(call.xid, rpc::AcceptSuccess,
                                  rpc::encode(reinterpret_cast<void*>(xdr_bool), &no));
    }
    case PMAPPROC_GETPORT: {
        pmap query{};
        if (!rpc::decode(record, call.argumentsOffset, reinterpret_cast<void*>(xdr_pmap), &query)) {
            return rpc::acceptedReply(call.xid, rpc::AcceptGarbageArguments);
        }
        u_long port = 0;
        if (vxi11Port_ != 0 && query.pm_prog == DEVICE_CORE &&
            query.pm_vers == DEVICE_CORE_VERSION && query.pm_prot == IPPROTO_TCP) {
            port = vxi11Port_;
        }
        return rpc::acceptedReply(call.xid, rpc::AcceptSuccess,
                                  rpc::encode(reinterpret_cast<void*>(xdr_u_long), &port));
    }
    case PMAPPROC_DUMP: {
        pmaplist node{};
        node.pml_map.pm_prog = DEVICE_CORE;
        node.pml_map.pm_vers = DEVICE_CORE_VERSION;
        node.pml_map.pm_prot = IPPROTO_TCP;
        node.pml_map.pm_port = vxi11Port_;
        node.pml_next = nullptr;
        pmaplist* list = vxi11Port_ != 0 ? &node : nullptr;
        return rpc::acceptedReply(call.xid, rpc::AcceptSuccess,
                                  rpc::encode(reinterpret_cast<void*>(xdr_pmaplist), &list));
    }
    default:
        return rpc::acceptedReply(call.xid, rpc::AcceptProcedureUnavailable);
    }
}

void PortmapperServer::shutdown() {
    for (RpcConnection& c : connections_) {
        c.close();
    }
    connections_.clear();
    for (int* fd : {&tcpFd_, &udpFd_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

} // namespace sim
