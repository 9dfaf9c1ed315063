#pragma once

// Hearing the change-IP broadcast of a monitor: an own UDP socket on the bus port when the
// simulator runs on another host or network namespace, or a packet capture beside a
// monitor that holds the port on this host.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "sim_config.h"

namespace qvlink::sim {

using CommandHandler = std::function<void(std::span<const std::uint8_t> datagram)>;

class CommandListener {
public:
    virtual ~CommandListener() = default;
    /// Readable when datagrams are waiting.
    virtual int pollFd() const = 0;
    /// Hands every waiting datagram to `handler` without blocking.
    virtual void drain(const CommandHandler& handler) = 0;
};

struct OpenedListener {
    std::unique_ptr<CommandListener> listener;  ///< empty when commands are not heard
    ListenMode mode = ListenMode::Off;          ///< the mode in effect
    std::string description;                    ///< one line for the start-up log
};

/// Opens the listener of `mode`; capture runs through the capture helper `captureHelper`.
/// An explicit bind or pcap that fails throws SimError; auto tries capture, then binding,
/// then gives up with the reasons in the description.
OpenedListener openCommandListener(ListenMode mode, std::uint16_t port,
                                   const std::string& pcapInterface,
                                   const std::string& captureHelper);

}  // namespace qvlink::sim
