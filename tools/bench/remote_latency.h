#pragma once

// How long a datagram takes from its capture at a bridge to the trace of a monitor that
// watches the bus through a broker on this machine.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvlink::bench {

struct RemoteLoad {
    std::string brokerUrl;
    std::string dumpPath;
    std::string simPath;
    std::uint64_t rate = 0;  ///< datagrams a second of the simulator's mix
    double seconds = 0.0;
};

struct RemoteLatency {
    std::size_t published = 0;  ///< datagrams the simulator sent
    std::size_t traced = 0;     ///< of them in the remote monitor's trace
    double medianMs = 0.0;      ///< capture to trace
    double p90Ms = 0.0;
    double slowestMs = 0.0;
    std::string bridgeSummary;  ///< the bridge's last words: messages published, dropped
};

/// A monitor with its trace open watches the raw topic of `load.brokerUrl` while qvlink-dump
/// --mqtt-raw captures the simulator's mix on loopback and publishes it there. The latency of
/// a datagram runs from the capture time the bridge stamped to its hand-over to the monitor.
/// Throws std::runtime_error when the bridge cannot capture or the monitor never hears it.
RemoteLatency measureRemoteLatency(const RemoteLoad& load);

}  // namespace qvlink::bench
