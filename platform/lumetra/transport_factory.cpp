#include "platform/lumetra/serial_transport.h"
#include "platform/lumetra/socket_transport.h"
#include "platform/lumetra/transport.h"
#include "platform/lumetra/usbtmc_transport.h"
#include "platform/lumetra/vxi11_transport.h"

#include <memory>
#include <variant>

namespace lumetra {

std::unique_ptr<Transport> makeTransport(const ResourceName& resource,
                                         const ResourceAttributes& attributes) {
    const ResourceAddress& address = resource.address();
    if (const auto* socket = std::get_if<TcpipSocketAddress>(&address)) {
        return std::make_unique<SocketTransport>(socket->host, socket->port);
    }
    if (const auto* instr = std::get_if<TcpipInstrAddress>(&address)) {
        return std::make_unique<Vxi11Transport>(instr->host, instr->lanDeviceName,
                                                vxi11Port(attributes));
    }
    if (const auto* usb = std::get_if<UsbInstrAddress>(&address)) {
        return std::make_unique<UsbtmcTransport>(*usb);
    }
    const auto& serial = std::get<AsrlInstrAddress>(address);
    return std::make_unique<SerialTransport>(serialDevicePath(serial.port),
                                             serialSettings(attributes));
}

std::vector<std::string> supportedLinks() {
    return {"TCPIP::SOCKET", "TCPIP::INSTR", "USB::INSTR", "ASRL::INSTR"};
}

} // namespace lumetra
