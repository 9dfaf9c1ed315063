#include "sim_command.h"

#include <cstdio>

namespace qvlink::bench {
namespace {

/// Devices send from 127.0.77.1 on: no address of the simulator's tests.
constexpr const char* kBaseIp = "127.0.77.1";
/// Their firmware-update forms listen here (each on its own address), unused by the bench.
constexpr int kHttpPort = 38973;

}  // namespace

std::vector<std::string> simArguments(const SimLoad& load) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", load.seconds);
    return {"--rate",      std::to_string(load.rate),
            "--duration",  seconds,
            "--target",    "127.0.0.1",
            "--port",      std::to_string(load.port),
            "-n",          std::to_string(load.devices),
            "--listen",    "off",
            "--base-ip",   kBaseIp,
            "--http-port", std::to_string(kHttpPort)};
}

std::optional<SimSummary> parseSimSummary(const std::string& output) {
    // "load: 49222 datagrams in 1.0 s = 48686 datagrams/s (asked 100000)", the last line.
    const auto at = output.rfind("load: ");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    unsigned long long sent = 0;
    double seconds = 0.0;
    double rate = 0.0;
    if (std::sscanf(output.c_str() + at, "load: %llu datagrams in %lf s = %lf", &sent, &seconds,
                    &rate) != 3) {
        return std::nullopt;
    }
    return SimSummary{sent, rate, 0.0};
}

}  // namespace qvlink::bench
