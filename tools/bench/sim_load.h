#pragma once

// Bus traffic for the benchmark: the simulator's load mode, run as a child process against
// one UDP port of this machine.

#include "sim_command.h"

namespace qvlink::bench {

/// Runs the simulator and keeps the calling thread's Qt event loop running meanwhile (the
/// monitor under test lives there). Throws std::runtime_error when the simulator fails.
SimSummary runSimLoad(const SimLoad& load);

}  // namespace qvlink::bench
