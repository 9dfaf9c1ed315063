#pragma once

// How long a datagram takes from its capture at a bridge to the trace of a monitor that
// watches the bus through a broker on this machine.

#include <cstddef>
#include <string>

namespace qvlink::bench {

struct RemoteLatency {
    std::size_t published = 0;  ///< datagrams published
    std::size_t traced = 0;     ///< of them in the remote monitor's trace
    double medianMs = 0.0;      ///< capture to trace
    double p90Ms = 0.0;
    double slowestMs = 0.0;
};

/// A monitor with its trace open watches `brokerUrl` (its raw topic) while a publisher in
/// this process sends the simulator's mix at `rate` datagrams a second for `seconds`, as the
/// bridge does: each datagram stamped when its turn comes, records gathered for up to 10 ms a
/// message. Throws std::runtime_error when the monitor does not come to hear the broker.
RemoteLatency measureRemoteLatency(const std::string& brokerUrl, int rate, double seconds);

}  // namespace qvlink::bench
