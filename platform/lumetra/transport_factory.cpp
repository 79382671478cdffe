#include "platform/lumetra/socket_transport.h"
#include "platform/lumetra/transport.h"

#include <memory>
#include <variant>

namespace lumetra {

namespace {

[[noreturn]] void notAvailable(const ResourceName& resource, const std::string& link) {
    throw Error(status::ErrorOperationNotSupported,
                resource.canonical() + ": " + link + " links are not available in this build yet");
}

} // namespace

std::unique_ptr<Transport> makeTransport(const ResourceName& resource) {
    const ResourceAddress& address = resource.address();
    if (const auto* socket = std::get_if<TcpipSocketAddress>(&address)) {
        return std::make_unique<SocketTransport>(socket->host, socket->port);
    }
    if (std::holds_alternative<TcpipInstrAddress>(address)) {
        notAvailable(resource, "VXI-11 (TCPIP::INSTR)");
    }
    if (std::holds_alternative<UsbInstrAddress>(address)) {
        notAvailable(resource, "USBTMC (USB::INSTR)");
    }
    notAvailable(resource, "serial (ASRL::INSTR)");
}

std::vector<std::string> supportedLinks() {
    return {"TCPIP::SOCKET"};
}

} // namespace lumetra
