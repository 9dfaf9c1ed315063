#pragma once

#include <QStringList>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "capture_file/file_ring.h"
#include "mqtt/mqtt_endpoint.h"

namespace qvlink {

/// What the command line asks of the monitor; the defaults are the monitor without options.
struct CommandLineOptions {
    bool recordHistory = true;
    std::string historyPath;  ///< empty: the default file under the user's data folder
    int historyDays = 7;
    int historyMaxMb = 1024;
    std::string recordFolder;  ///< empty: no recording from start-up
    RotationLimits recordRotation;
    /// Capture files or folders to replay instead of listening; empty: the live bus.
    std::vector<std::string> replayFiles;
    /// The broker of a bus watched from afar (--source); none: the bus port.
    std::optional<MqttEndpoint> remoteSource;
    /// What the user must be told at start (an unverified TLS link, for one).
    std::vector<std::string> warnings;
};

/// The outcome of reading the command line: run with `options`, or leave at once with
/// `exitCode` after printing `output` (to stdout) and `error` (to stderr).
struct CommandLine {
    bool run = true;
    int exitCode = 0;
    std::string output;
    std::string error;
    CommandLineOptions options;
};

/// Exit code of an unknown option or a bad value.
inline constexpr int kUsageExitCode = 2;

/// Files a rotating recording keeps when only their size is given.
inline constexpr int kDefaultRecordRingFiles = 10;

/// Reads `arguments` (the program name first). --help and --version leave with 0; an
/// unknown option, a stray argument or a bad value (a --record folder that does not exist or
/// may not be written included) leaves with kUsageExitCode. The broker account comes from
/// --mqtt-credentials or else from `environment`.
CommandLine parseCommandLine(const QStringList& arguments,
                             const EnvironmentLookup& environment = std::getenv);

}  // namespace qvlink
