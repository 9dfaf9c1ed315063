#pragma once

// The whole benchmark: every phase in turn, each figure printed as it is measured, and the
// budgets checked at the end.

#include "bench_options.h"

namespace qvlink::bench {

/// Runs the phases the options leave in; returns 0 when every measured budget is met.
int runBenchmark(const BenchOptions& options);

}  // namespace qvlink::bench
