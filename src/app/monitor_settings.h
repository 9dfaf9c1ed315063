#pragma once

#include <string>

#include "common/bus_types.h"

namespace qvlink {

/// Where the monitor listens and where its commands go. The program uses the bus values;
/// tests move them to free loopback ports.
struct MonitorSettings {
    int busPort = kBusPort;
    /// Destination of the change-IP command.
    std::string commandHost = "255.255.255.255";
    int commandPort = kBusPort;
    /// TCP port of a device's firmware-update form; 80 leaves the URL without a port.
    int httpPort = 80;
    /// Name of the capture replayed instead of listening (no endpoint, no device commands,
    /// the refresh driven by the replay); empty: the live bus.
    std::string replayOf;
    /// Empty: the monitor watches the bus it is on. Otherwise the broker URL of a bus far away
    /// (shown in the caption): the bus port stays closed and the device commands are off.
    std::string remoteSource;
};

}  // namespace qvlink
