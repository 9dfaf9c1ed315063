#pragma once

// The simulator's load mix handed straight to the monitor's read handler, without sockets,
// and the least CPU a piece of work takes over a few rounds.

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "load_traffic.h"
#include "process_stats.h"

namespace qvlink::bench {

/// Least thread CPU per call of `work(i)`, i from 0 to `calls`, over `rounds`, in
/// microseconds.
template <typename Work>
double leastMicros(int calls, Work&& work, int rounds = 5) {
    double least = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const std::int64_t start = threadCpuNs();
        for (int i = 0; i < calls; ++i) {
            work(i);
        }
        least = std::min(least, static_cast<double>(threadCpuNs() - start) * 1e-3 / calls);
    }
    return least;
}

/// Hands datagram `i` (modulo the mix's length) of `devices` simulated devices to `main`.
class MixFeeder {
public:
    MixFeeder(TFMain& main, int devices, int datagrams)
        : m_main(main), m_traffic(simulatorLoadTraffic(devices, datagrams)) {}

    void operator()(int i) {
        const Datagram& datagram = m_traffic[static_cast<std::size_t>(i) % m_traffic.size()];
        m_binding.SenderIP = datagram.senderIp;
        m_main.UdpServerUDPRead(m_main.UdpServer, datagram.bytes, m_binding);
    }

private:
    TFMain& m_main;
    std::vector<Datagram> m_traffic;
    UdpBinding m_binding;
};

}  // namespace qvlink::bench
