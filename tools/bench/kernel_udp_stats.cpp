#include "kernel_udp_stats.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace qvlink::bench {

std::optional<KernelUdpStats> kernelUdpStats(int port, const std::string& table) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // column titles
    std::optional<KernelUdpStats> found;
    while (std::getline(in, line)) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout
        // inode ref pointer drops
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode,
            refs, pointer;
        std::uint64_t drops = 0;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode >> refs >> pointer >> drops)) {
            continue;
        }
        const auto colon = local.find(':');
        const auto queueColon = queues.find(':');
        if (colon == std::string::npos || queueColon == std::string::npos ||
            std::stoi(local.substr(colon + 1), nullptr, 16) != port) {
            continue;
        }
        KernelUdpStats stats = found.value_or(KernelUdpStats{});
        stats.receiveQueueBytes += std::stoull(queues.substr(queueColon + 1), nullptr, 16);
        stats.drops += drops;
        found = stats;
    }
    return found;
}

}  // namespace qvlink::bench
