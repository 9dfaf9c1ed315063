#include "sim_load.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <stdexcept>

#include "child_process.h"

namespace qvlink::bench {
namespace {

/// Devices send from 127.0.77.1 on: no address of the simulator's tests.
constexpr const char* kBaseIp = "127.0.77.1";
/// Their firmware-update forms listen here (each on its own address), unused by the bench.
constexpr int kHttpPort = 38973;
/// Time beyond the load's duration that the simulator may take to start and to stop.
constexpr int kGraceMs = 20000;

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

SimSummary runSimLoad(const SimLoad& load) {
    ChildProcess sim(load.simPath, simArguments(load));
    QEventLoop loop;
    QSocketNotifier ended(sim.exitFd(), QSocketNotifier::Read);
    QObject::connect(&ended, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(static_cast<int>(load.seconds * 1000.0) + kGraceMs);
    if (!sim.finished()) {
        loop.exec();
    }
    if (!sim.finished()) {
        sim.signal(SIGTERM);
    }
    const int status = sim.wait();
    const std::optional<SimSummary> summary = parseSimSummary(sim.output());
    if (status != 0 || !summary) {
        throw std::runtime_error("qvlink-sim failed (status " + std::to_string(status) + "):\n" +
                                 sim.output());
    }
    SimSummary result = *summary;
    result.cpuSeconds = sim.cpuSeconds();
    return result;
}

}  // namespace qvlink::bench
