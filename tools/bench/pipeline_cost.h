#pragma once

// Where a datagram's time goes inside the monitor, without sockets: the simulator's own load
// traffic handed straight to the reception handler, with the trace hidden and open, and the
// trace frames painted as they would be at 100 and 1,000 datagrams/s (the trace window paints
// at most 25 frames a second). Each figure is the least of several rounds, so a busy machine
// disturbs it less than the end-to-end ones.

namespace qvlink::bench {

struct PipelineCost {
    double hiddenUs = 0.0;      ///< per datagram, trace hidden
    double tracedUs = 0.0;      ///< per datagram, trace open and tracing, painting aside
    double quietFrameMs = 0.0;  ///< a trace frame with 4 new records (100/s at 25 frames/s)
    double busyFrameMs = 0.0;   ///< with 40 new records (1,000/s at 25 frames/s)
    double tracedAt1000 = 0.0;  ///< share of a core: 1,000 records a second and their frames
};

PipelineCost measurePipelineCost();

}  // namespace qvlink::bench
