#pragma once

// Where a datagram's time goes inside the monitor, without sockets: the simulator's own load
// traffic handed straight to the reception handler, with the trace hidden and open, and the
// trace frames painted as they would be at 1,000 datagrams/s. Each figure is the least of
// several rounds, so a busy machine disturbs it less than the end-to-end ones.

namespace qvlink::bench {

struct PipelineCost {
    double hiddenUs = 0.0;       ///< per datagram, trace hidden
    double tracedUs = 0.0;       ///< per datagram, trace open and tracing, painting aside
    double frameMs = 0.0;        ///< one trace frame with 17 new records (1,000/s at 60 Hz)
    double floodFrameMs = 0.0;   ///< one trace frame whose visible records are all new
    double paintedAt1000 = 0.0;  ///< share of a core: 1,000 records a second at 60 frames
};

PipelineCost measurePipelineCost();

}  // namespace qvlink::bench
