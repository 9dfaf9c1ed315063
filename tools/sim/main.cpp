// qvlink-sim: simulated QV-LINK field devices for commissioning and testing a monitor
// without hardware.

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "capture/helper_capture.h"
#include "sim_error.h"
#include "sim_options.h"
#include "sim_runner.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void requestStop(int) {
    g_stop.store(true);
}

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qvlink::sim;
    const std::vector<std::string> args(argv + 1, argv + argc);
    SimConfig config;
    std::string error;
    switch (parseSimOptions(args, config, error)) {
        case OptionsOutcome::Help:
            std::cout << simHelpText();
            return 0;
        case OptionsOutcome::Error:
            std::cerr << "qvlink-sim: " << error << "\n";
            return 2;
        case OptionsOutcome::Run:
            break;
    }
    config.captureHelper = qvlink::capture::captureHelperPath();

    // One line per event, visible at once even when the output goes to a pipe or file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const LogSink log = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
    try {
        SimRunner runner(config, log);
        installStopHandlers();
        runner.run(g_stop);
        std::printf("%s", runner.summary().c_str());
    } catch (const SimError& failure) {
        std::cerr << "qvlink-sim: " << failure.what() << "\n";
        return 1;
    }
    return 0;
}
