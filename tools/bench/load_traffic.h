#pragma once

// The simulator's load traffic made in-process, for measurements that feed the monitor's
// handler directly.

#include <cstdint>
#include <string>
#include <vector>

namespace qvlink::bench {

struct Datagram {
    std::vector<std::uint8_t> bytes;
    std::string senderIp;
};

/// `count` datagrams of `devices` simulated devices in load mode: each device in turn sends a
/// batch of its reports, as qvlink-sim --rate does.
std::vector<Datagram> simulatorLoadTraffic(int devices, int count);

}  // namespace qvlink::bench
