#pragma once

// The trend window over a history file of known size: how long it takes to appear, how long
// a pan or zoom frame takes, and how large the file grows per TI row.

namespace qvlink::bench {

/// Wall time and the process's CPU time (every thread: the loader's reading included).
struct TrendSpan {
    double wallMs = 0;
    double cpuMs = 0;
};

struct TrendTimes {
    TrendSpan open24h;   ///< 86,400 rows of one TI point, command to painted plot
    TrendSpan open7d;    ///< 604,800 rows of one TI point
    TrendSpan panFrame;  ///< median repaint after a pan or zoom, 7 days of 4 points
    double mibPerMillionRows = 0;
};

TrendTimes measureTrend();

}  // namespace qvlink::bench
