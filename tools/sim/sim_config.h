#pragma once

// Everything the command line sets: the simulated devices, where they send, the scenarios
// and how device commands are heard.

#include <cstdint>
#include <string>
#include <vector>

#include "common/bus_types.h"

namespace qvlink::sim {

/// How the change-IP broadcast reaches the simulator.
enum class ListenMode : std::uint8_t {
    Auto,  ///< capture when permitted, else bind when the port is free, else off
    Bind,  ///< own UDP socket on the listen port (another host or network namespace)
    Pcap,  ///< packet capture of "udp dst port <listen port>" beside a monitor on this host
    Off,
};

struct SimConfig {
    int deviceCount = 12;
    std::vector<std::uint8_t> types;  ///< codes from kDeviceTypes; empty: the default mix
    std::string baseIp = "127.0.0.11";
    std::string target = "127.0.0.1";
    std::uint16_t port = kBusPort;
    std::uint16_t sourcePort = 0;  ///< 0: ephemeral
    double cycleSeconds = 10.0;    ///< period of the cyclic TS and TI reports

    double loss = 0.0;                 ///< probability that a sequence number is skipped
    double restartEverySeconds = 0.0;  ///< 0: no restarts
    bool silence = false;
    double silenceForSeconds = 75.0;
    double silenceEverySeconds = 150.0;
    bool malformed = false;
    double malformedEverySeconds = 5.0;
    double reprogQuietSeconds = 5.0;  ///< quiet time after a firmware-update request

    std::uint64_t rate = 0;        ///< load mode: datagrams per second; 0 = normal traffic
    double durationSeconds = 0.0;  ///< 0: until interrupted
    std::uint64_t seed = 1;

    ListenMode listen = ListenMode::Auto;
    std::uint16_t listenPort = kBusPort;
    std::string pcapInterface = "any";
    std::string captureHelper;  ///< the program that captures for --listen pcap
    std::uint16_t httpPort = 80;
};

}  // namespace qvlink::sim
