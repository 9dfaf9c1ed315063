// qvlink-bench: the monitor under bus load beside bare receivers, its refresh, start-up, idle
// cost and memory, against the budgets. Runs headless.

#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/fonts.h"
#include "bench_options.h"
#include "bench_run.h"
#include "startup_probe.h"

#ifndef QVLINK_SIM_PATH
#define QVLINK_SIM_PATH "qvlink-sim"
#endif
#ifndef QVLINK_DUMP_PATH
#define QVLINK_DUMP_PATH "qvlink-dump"
#endif
#ifndef QVLINK_MONITOR_PATH
#define QVLINK_MONITOR_PATH "qvlink-monitor"
#endif

namespace {

std::string ownPath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qvlink::bench;
    // Headless: the windows paint into memory. Children (probe, monitor) inherit it.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc == 2 && std::string(argv[1]) == "--probe-startup") {
        return runStartupProbe(argc, argv);
    }
    BenchOptions options;
    options.simPath = QVLINK_SIM_PATH;
    options.monitorPath = QVLINK_MONITOR_PATH;
    options.dumpPath = QVLINK_DUMP_PATH;
    options.selfPath = ownPath();
    std::string error;
    switch (parseBenchOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        case ParseOutcome::Help:
            std::printf("%s", benchHelpText().c_str());
            return 0;
        case ParseOutcome::Error:
            std::fprintf(stderr, "qvlink-bench: %s\n", error.c_str());
            return 2;
        case ParseOutcome::Run:
            break;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication application(argc, argv);
    qvlink::registerTahomaFace();
    try {
        return runBenchmark(options);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "qvlink-bench: %s\n", failure.what());
        return 1;
    }
}
