#pragma once

// Recognising the change-IP command that a monitor broadcasts to every device.

#include <cstdint>
#include <span>
#include <string>

namespace qvlink::sim {

struct SetIpCommand {
    std::uint8_t seq = 0;
    std::string macText;  ///< the addressed device, as the monitor shows it
    std::string ipText;   ///< the new address, as typed
};

/// True for a change-IP command: magic, zero type and address bytes (a command carries no
/// device type), the text-message class with the change-IP subtype, and a body
/// "<MAC> <IP>" ending at its first zero byte (or at the end of the datagram).
bool parseSetIpCommand(std::span<const std::uint8_t> datagram, SetIpCommand& command);

}  // namespace qvlink::sim
