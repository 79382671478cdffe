#include "platform/lumetra/discovery.h"

#include "platform/lumetra/net_util.h"
#include "platform/lumetra/vxi11/vxi11_protocol.h"
#include "platform/lumetra/vxi11_transport.h"
#include "platform/lumetra/xdr_words.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <future>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace lumetra::discovery {

namespace {

constexpr std::uint32_t PortmapperProgram = 100000;
constexpr std::uint32_t PortmapperVersion = 2;
constexpr std::uint32_t ProcGetPort = 3;
constexpr std::uint32_t ProtocolTcp = 6;

constexpr std::uint32_t MessageCall = 0;
constexpr std::uint32_t MessageReply = 1;
constexpr std::uint32_t ReplyAccepted = 0;
constexpr std::uint32_t AcceptSuccess = 0;

struct Probe {
    Target target;
    std::uint32_t xid = 0;
    int fd = -1;
};

sockaddr_in socketAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr.s_addr = htonl(address);
    return result;
}

// A socket bound to the interface's own address, so that the call leaves through it and the
// answers, which come back unicast, are told apart by interface.
int openProbeSocket(const Target& target, std::string& problem) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        problem = "cannot create a socket" + net::errnoText(errno);
        return -1;
    }
    const int on = 1;
    const sockaddr_in local = socketAddress(target.source, 0);
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        problem = "cannot use " + ipv4Text(target.source) + net::errnoText(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

void identify(Instrument& instrument, std::chrono::milliseconds timeout) {
    const Deadline deadline = Clock::now() + timeout;
    try {
        Vxi11Transport link(instrument.address, "inst0", instrument.port);
        link.open(deadline);
        link.write("*IDN?\n", deadline);
        instrument.identity = link.read(deadline);
    } catch (const std::exception& failure) {
        instrument.error = failure.what();
    }
}

} // namespace

std::string ipv4Text(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
           std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

std::vector<InterfaceAddress> listInterfaces() {
    std::vector<InterfaceAddress> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return result;
    }
    for (const ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !it->ifa_name) {
            continue;
        }
        InterfaceAddress entry;
        entry.name = it->ifa_name;
        entry.address = ntohl(reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr);
        entry.up = (it->ifa_flags & IFF_UP) != 0;
        entry.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
        if ((it->ifa_flags & IFF_BROADCAST) && it->ifa_broadaddr &&
            it->ifa_broadaddr->sa_family == AF_INET) {
            entry.broadcast =
                ntohl(reinterpret_cast<const sockaddr_in*>(it->ifa_broadaddr)->sin_addr.s_addr);
        }
        result.push_back(std::move(entry));
    }
    ::freeifaddrs(list);
    return result;
}

Selection chooseTargets(const std::vector<InterfaceAddress>& interfaces,
                        const std::vector<std::string>& names) {
    Selection selection;
    auto addTarget = [&](const InterfaceAddress& entry, std::uint32_t destination) {
        Target target{entry.name, entry.address, destination};
        if (std::find(selection.targets.begin(), selection.targets.end(), target) ==
            selection.targets.end()) {
            selection.targets.push_back(std::move(target));
        }
    };
    if (names.empty()) {
        for (const auto& entry : interfaces) {
            if (entry.up && !entry.loopback && entry.broadcast) {
                addTarget(entry, *entry.broadcast);
            }
        }
        return selection;
    }
    for (const auto& name : names) {
        bool known = false;
        for (const auto& entry : interfaces) {
            if (entry.name != name) {
                continue;
            }
            known = true;
            const std::string which = name + " (" + ipv4Text(entry.address) + ")";
            if (!entry.up) {
                selection.problems.push_back(which + " is down");
            } else if (entry.loopback) {
                addTarget(entry, entry.address);
            } else if (entry.broadcast) {
                addTarget(entry, *entry.broadcast);
            } else {
                selection.problems.push_back(which + " cannot broadcast");
            }
        }
        if (!known && std::find(selection.unknown.begin(), selection.unknown.end(), name) ==
                          selection.unknown.end()) {
            selection.unknown.push_back(name);
        }
    }
    return selection;
}

std::string encodeGetPortCall(std::uint32_t xid) {
    std::string out;
    for (std::uint32_t word :
         {xid, MessageCall, std::uint32_t(2), PortmapperProgram, PortmapperVersion, ProcGetPort,
          // credentials and verifier: none
          std::uint32_t(0), std::uint32_t(0), std::uint32_t(0), std::uint32_t(0),
          std::uint32_t(DEVICE_CORE), std::uint32_t(DEVICE_CORE_VERSION), ProtocolTcp,
          std::uint32_t(0)}) {
        xdr::putWord(out, word);
    }
    return out;
}

std::optional<std::uint32_t> decodeGetPortReply(const std::string& message, std::uint32_t xid) {
    std::size_t offset = 0;
    std::uint32_t word = 0;
    if (!xdr::getWord(message, offset, word) || word != xid ||
        !xdr::getWord(message, offset, word) || word != MessageReply ||
        !xdr::getWord(message, offset, word) || word != ReplyAccepted ||
        !xdr::skipOpaqueAuth(message, offset) || !xdr::getWord(message, offset, word) ||
        word != AcceptSuccess) {
        return std::nullopt;
    }
    std::uint32_t port = 0;
    if (!xdr::getWord(message, offset, port)) {
        return std::nullopt;
    }
    return port;
}

Result discover(const Options& options) {
    Result result;
    Selection selection = chooseTargets(listInterfaces(), options.interfaces);
    result.problems = std::move(selection.problems);
    result.unknownInterfaces = std::move(selection.unknown);
    if (!result.unknownInterfaces.empty() || selection.targets.empty()) {
        return result;
    }

    const Deadline deadline = Clock::now() + options.timeout;
    std::uint32_t xid = std::random_device{}();
    std::vector<Probe> probes;
    for (const Target& target : selection.targets) {
        const std::string which = target.interfaceName + " (" + ipv4Text(target.source) + ")";
        std::string problem;
        const int fd = openProbeSocket(target, problem);
        if (fd < 0) {
            result.problems.push_back(which + ": " + problem);
            continue;
        }
        Probe probe{target, ++xid, fd};
        const std::string call = encodeGetPortCall(probe.xid);
        const sockaddr_in to = socketAddress(target.destination, PortmapperPort);
        if (::sendto(fd, call.data(), call.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to) != static_cast<ssize_t>(call.size())) {
            result.problems.push_back(which + ": cannot send to " + ipv4Text(target.destination) +
                                      net::errnoText(errno));
            ::close(fd);
            continue;
        }
        result.searched.push_back(which);
        probes.push_back(probe);
    }

    std::vector<pollfd> fds;
    for (const Probe& probe : probes) {
        fds.push_back({probe.fd, POLLIN, 0});
    }
    while (!fds.empty()) {
        const int ready = ::poll(fds.data(), fds.size(), net::remainingMilliseconds(deadline));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready == 0 && Clock::now() >= deadline) {
            break;
        }
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (!(fds[k].revents & (POLLIN | POLLERR))) {
                continue;
            }
            char buffer[1500];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            // Errors (an ICMP "port unreachable", for one) just mean that this one did not answer.
            const ssize_t n = ::recvfrom(fds[k].fd, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            if (n <= 0 || from.sin_family != AF_INET) {
                continue;
            }
            const auto port =
                decodeGetPortReply(std::string(buffer, std::size_t(n)), probes[k].xid);
            if (!port || *port == 0 || *port > 65535) {
                continue;
            }
            const std::string address = ipv4Text(ntohl(from.sin_addr.s_addr));
            const bool seen =
                std::any_of(result.found.begin(), result.found.end(),
                            [&](const Instrument& i) { return i.address == address; });
            if (!seen) {
                result.found.push_back({address,
                                        static_cast<std::uint16_t>(*port),
                                        probes[k].target.interfaceName,
                                        {},
                                        {}});
            }
        }
        if (Clock::now() >= deadline) {
            break;
        }
    }
    for (const Probe& probe : probes) {
        ::close(probe.fd);
    }

    if (options.identify) {
        std::vector<std::future<void>> queries;
        for (Instrument& instrument : result.found) {
            queries.push_back(std::async(std::launch::async, [&instrument, &options] {
                identify(instrument, options.timeout);
            }));
        }
        for (auto& query : queries) {
            query.wait();
        }
    }
    return result;
}

} // namespace lumetra::discovery
