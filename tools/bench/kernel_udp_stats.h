#pragma once

// The kernel's own view of a UDP socket, from /proc/net/udp: bytes waiting in its receive
// queue and datagrams dropped because that queue was full.

#include <cstdint>
#include <optional>
#include <string>

namespace qvlink::bench {

struct KernelUdpStats {
    std::uint64_t receiveQueueBytes = 0;
    std::uint64_t drops = 0;
};

/// The sockets bound to local `port` in the table at `table` (/proc/net/udp, or
/// /proc/<pid>/net/udp for another network namespace), summed; nothing when none is bound.
std::optional<KernelUdpStats> kernelUdpStats(int port, const std::string& table = "/proc/net/udp");

}  // namespace qvlink::bench
