#pragma once

// Start-up time of the monitor: how long from the exec of the program until its event loop
// runs its first iteration and until the main window is first painted.

#include <optional>
#include <string>
#include <vector>

namespace qvlink::bench {

/// Milliseconds after the exec of one start.
struct StartupTimes {
    double toMain = 0.0;         ///< program loaded, main entered
    double toConstructed = 0.0;  ///< application and both windows built, endpoint bound
    double toFirstLoop = 0.0;    ///< first iteration of the event loop
    double toFirstPaint = 0.0;   ///< main window painted
};

/// The probe side, run as `qvlink-bench --probe-startup` in a child process: builds what the
/// program's main builds (on an ephemeral port), runs the event loop until the first
/// iteration and the first paint, and prints the moments. Returns the exit status.
int runStartupProbe(int argc, char** argv);

/// Starts the probe child and reads its moments.
std::optional<StartupTimes> measureProbeStartup(const std::string& selfPath);

/// What can be seen from outside of the real program, started in a network namespace of its
/// own so that it can bind the bus port: milliseconds after the exec until its socket is
/// bound, and until a datagram sent to it once bound has been taken from the socket (its
/// event loop runs the receiving). Nothing when it cannot be started or observed.
struct RealStartupTimes {
    double toBound = 0.0;
    double toFirstLoop = 0.0;
};
/// `args`: the monitor's command line (where it records its history).
std::optional<RealStartupTimes> measureRealStartup(const std::string& monitorPath,
                                                   const std::vector<std::string>& args,
                                                   std::string& why);

}  // namespace qvlink::bench
