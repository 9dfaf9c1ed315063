#pragma once

// The command line of qvlink-sim.

#include <span>
#include <string>

#include "sim_config.h"

namespace qvlink::sim {

enum class OptionsOutcome { Run, Help, Error };

/// Reads the arguments (without the program name) into `config`; "--flag value" and
/// "--flag=value" are both accepted. Error leaves a one-line reason in `error`.
OptionsOutcome parseSimOptions(std::span<const std::string> args, SimConfig& config,
                               std::string& error);

/// The --help text: every flag with its default.
std::string simHelpText();

/// "auto", "bind", "pcap" or "off".
const char* listenModeText(ListenMode mode);

}  // namespace qvlink::sim
