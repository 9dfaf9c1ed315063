#include "bench_options.h"

#include <sstream>

namespace qvlink::bench {
namespace {

const std::set<std::string> kPhases{"startup",   "pipeline", "steps",  "idle",    "history",
                                    "recording", "burst",    "ticks",  "devices", "flood",
                                    "trend",     "replay",   "remote", "bridge"};

bool readSeconds(const std::string& text, double& out) {
    try {
        std::size_t used = 0;
        out = std::stod(text, &used);
        return used == text.size() && out > 0.0;
    } catch (const std::exception&) {
        return false;
    }
}

bool readCount(const std::string& text, std::uint64_t& out) {
    if (text == "max") {
        out = kMaxRate;
        return true;
    }
    try {
        std::size_t used = 0;
        out = std::stoull(text, &used);
        return used == text.size() && out > 0 && out <= kMaxRate;
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        parts.push_back(part);
    }
    return parts;
}

bool readRates(const std::string& text, std::vector<std::uint64_t>& rates) {
    rates.clear();
    for (const std::string& part : split(text)) {
        std::uint64_t rate = 0;
        if (!readCount(part, rate)) {
            return false;
        }
        rates.push_back(rate);
    }
    return !rates.empty();
}

bool readPhases(const std::string& text, std::set<std::string>& phases) {
    for (const std::string& part : split(text)) {
        if (!kPhases.contains(part)) {
            return false;
        }
        phases.insert(part);
    }
    return true;
}

bool apply(const std::string& name, const std::string& value, BenchOptions& options) {
    std::uint64_t count = 0;
    if (name == "--sim") {
        options.simPath = value;
        return !value.empty();
    }
    if (name == "--monitor") {
        options.monitorPath = value;
        return !value.empty();
    }
    if (name == "--steps") {
        return readRates(value, options.rates);
    }
    if (name == "--step-seconds") {
        return readSeconds(value, options.stepSeconds);
    }
    if (name == "--idle-seconds") {
        return readSeconds(value, options.idleSeconds);
    }
    if (name == "--record-seconds") {
        return readSeconds(value, options.recordSeconds);
    }
    if (name == "--flood-seconds") {
        return readSeconds(value, options.floodSeconds);
    }
    if (name == "--block-seconds") {
        return readSeconds(value, options.blockSeconds);
    }
    if (name == "--burst-rate") {
        return readCount(value, options.burstRate);
    }
    if (name == "--ticks" || name == "--startup-runs") {
        if (!readCount(value, count) || count > 100'000) {
            return false;
        }
        (name == "--ticks" ? options.ticks : options.startupRuns) = static_cast<int>(count);
        return true;
    }
    if (name == "--skip") {
        return readPhases(value, options.skipped);
    }
    return false;
}

}  // namespace

ParseOutcome parseBenchOptions(const std::vector<std::string>& args, BenchOptions& options,
                               std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "-h" || name == "--help") {
            return ParseOutcome::Help;
        }
        std::string value;
        const auto equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = name + " needs a value";
            return ParseOutcome::Error;
        }
        if (!apply(name, value, options)) {
            error = "bad option or value: " + name + " " + value;
            return ParseOutcome::Error;
        }
    }
    return ParseOutcome::Run;
}

std::string benchHelpText() {
    return R"(Usage: qvlink-bench [options]

Measures the monitor (main window, endpoint, trace window open with tracing on, one-second
timer; headless) under bus load from qvlink-sim, beside bare receivers on the same traffic.

  --steps LIST          offered rates in datagrams/s, "max" for as fast as the simulator
                        sends (default 1000,10000,50000,100000,200000,300000,max)
  --step-seconds S      length of each rate step per receiver (default 4)
  --idle-seconds S      length of each 1,000 datagrams/s run (default 10)
  --record-seconds S    length of each 200,000 datagrams/s run of the bus recording
                        (default 30)
  --flood-seconds S     length of the memory flood at the maximum rate (default 60;
                        600 for the ten-minute figure)
  --burst-rate N        rate while the GUI thread is blocked (default 50000)
  --block-seconds S     how long the GUI thread is blocked (default 3)
  --ticks N             refresh ticks timed with 29 devices (default 200)
  --startup-runs N      start-up measurements (default 5)
  --skip LIST           phases to leave out: startup, pipeline, steps, idle, history,
                        recording, burst, ticks, devices, flood, trend, replay, remote and
                        bridge (both run qvlink-dump --mqtt to a local mosquitto; need the
                        capture right)
  --sim PATH            qvlink-sim to use (default: the one built beside this program)
  --monitor PATH        qvlink-monitor to start for its start-up time (default: the built one)
)";
}

}  // namespace qvlink::bench
