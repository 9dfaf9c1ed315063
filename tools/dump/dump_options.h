#pragma once

// Command line of qvlink-dump.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "capture_file/file_ring.h"
#include "common/bus_types.h"
#include "metrics/metrics_server.h"
#include "mqtt/mqtt_endpoint.h"

namespace qvlink::dump {

/// Number of files a rotated output keeps when -C is given without -W.
inline constexpr int kDefaultRingFiles = 10;

struct DumpOptions {
    std::string interface = "any";  ///< live capture interface
    std::string readFile;           ///< capture file to read instead of a live capture
    std::uint16_t port = kBusPort;
    std::string pcapFile;  ///< -w
    std::string csvFile;   ///< --csv
    RotationLimits rotation;
    bool quiet = false;                      ///< no datagram lines on standard output
    bool stats = false;                      ///< per-device statistics on exit
    std::optional<MetricsEndpoint> metrics;  ///< --metrics: where to serve the counters
    MqttOptionValues mqtt;  ///< --mqtt and its account and TLS options; no URL: no broker
    bool mqttRaw = false;   ///< --mqtt-raw
    std::int64_t mqttTiIntervalUs = 1'000'000;  ///< --mqtt-ti-interval
    bool help = false;
};

/// Parses the arguments after the program name. Throws DumpError (ExitCode::Usage) with a
/// message naming the offending argument.
DumpOptions parseDumpOptions(const std::vector<std::string>& arguments);

/// The --help text, exit codes included.
std::string dumpUsage();

}  // namespace qvlink::dump
