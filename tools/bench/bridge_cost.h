#pragma once

// What publishing the bus costs: qvlink-dump capturing live on the loopback interface and
// publishing to a local mosquitto, fed by the simulator, with a subscriber in this process
// that counts the raw datagrams lost by the devices' sequence numbers.

#include <cstdint>
#include <string>

#include "sim_command.h"

namespace qvlink::bench {

struct BridgeLoad {
    std::string dumpPath;
    std::string simPath;
    std::uint64_t rate = 0;
    double seconds = 0.0;
    int devices = 29;
    bool raw = false;  ///< --mqtt-raw, with the subscriber counting
};

struct BridgeResult {
    SimSummary sim;
    double dumpCoreShare = 0.0;    ///< qvlink-dump and its capture helper, share of a core
    double brokerCoreShare = 0.0;  ///< mosquitto
    double simCoreShare = 0.0;
    double subscriberCoreShare = 0.0;  ///< this process while it subscribed
    std::uint64_t received = 0;        ///< raw records that reached the subscriber
    std::uint64_t lost = 0;            ///< gaps in the devices' sequence numbers
    std::string dumpSummary;           ///< the dump's last line: published and dropped
};

/// Runs the load once. Throws std::runtime_error when the broker, the dump or the simulator
/// fails (no mosquitto, no capture right).
BridgeResult runBridgeLoad(const BridgeLoad& load);

}  // namespace qvlink::bench
