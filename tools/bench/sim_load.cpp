#include "sim_load.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <stdexcept>

#include "process/child_process.h"

namespace qvlink::bench {
namespace {

/// Time beyond the load's duration that the simulator may take to start and to stop.
constexpr int kGraceMs = 20000;

}  // namespace

SimSummary runSimLoad(const SimLoad& load) {
    std::vector<std::string> argv{load.simPath};
    const std::vector<std::string> arguments = simArguments(load);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildProcess sim(argv);
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
    const std::optional<SimSummary> summary = parseSimSummary(sim.out());
    if (status != 0 || !summary) {
        throw std::runtime_error("qvlink-sim failed (status " + std::to_string(status) + "):\n" +
                                 sim.out() + sim.err());
    }
    SimSummary result = *summary;
    result.cpuSeconds = sim.cpuSeconds();
    return result;
}

}  // namespace qvlink::bench
