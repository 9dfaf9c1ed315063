#include "sim_options.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

#include "common/dotted_quad.h"

namespace qvlink::sim {
namespace {

/// Each device holds two sockets; this keeps a default descriptor limit sufficient.
constexpr long kMaxDevices = 400;

bool readInteger(const std::string& text, long min, long max, long& out) {
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max) {
        return false;
    }
    out = value;
    return true;
}

bool readNumber(const std::string& text, double min, double max, double& out) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < min || value > max) {
        return false;
    }
    out = value;
    return true;
}

bool readTypes(const std::string& text, std::vector<std::uint8_t>& types) {
    types.clear();
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        long code = 0;
        if (!readInteger(text.substr(start, comma - start), 0, 255, code) ||
            findDeviceType(static_cast<std::uint8_t>(code)) == nullptr) {
            return false;
        }
        types.push_back(static_cast<std::uint8_t>(code));
        start = comma + 1;
    }
    return !types.empty();
}

bool readListenMode(const std::string& text, ListenMode& mode) {
    for (ListenMode candidate :
         {ListenMode::Auto, ListenMode::Bind, ListenMode::Pcap, ListenMode::Off}) {
        if (text == listenModeText(candidate)) {
            mode = candidate;
            return true;
        }
    }
    return false;
}

/// Reads one option's value; false when it is out of range or of the wrong form.
using ValueReader = std::function<bool(const std::string& value, SimConfig& config)>;

ValueReader port(std::uint16_t SimConfig::*field, long min) {
    return [field, min](const std::string& value, SimConfig& config) {
        long number = 0;
        if (!readInteger(value, min, 65535, number)) {
            return false;
        }
        config.*field = static_cast<std::uint16_t>(number);
        return true;
    };
}

ValueReader seconds(double SimConfig::*field, double min) {
    return [field, min](const std::string& value, SimConfig& config) {
        return readNumber(value, min, 1e7, config.*field);
    };
}

const std::map<std::string, ValueReader>& valueOptions() {
    static const std::map<std::string, ValueReader> options{
        {"--devices",
         [](const std::string& value, SimConfig& config) {
             long count = 0;
             const bool ok = readInteger(value, 1, kMaxDevices, count);
             config.deviceCount = static_cast<int>(count);
             return ok;
         }},
        {"--types", [](const std::string& value,
                       SimConfig& config) { return readTypes(value, config.types); }},
        {"--base-ip",
         [](const std::string& value, SimConfig& config) {
             config.baseIp = value;
             return parseDottedQuad(value).has_value();
         }},
        {"--target",
         [](const std::string& value, SimConfig& config) {
             config.target = value;
             return !value.empty();
         }},
        {"--port", port(&SimConfig::port, 1)},
        {"--source-port", port(&SimConfig::sourcePort, 0)},
        {"--cycle", seconds(&SimConfig::cycleSeconds, 0.1)},
        {"--loss", [](const std::string& value,
                      SimConfig& config) { return readNumber(value, 0.0, 0.99, config.loss); }},
        {"--restart-every", seconds(&SimConfig::restartEverySeconds, 0.1)},
        {"--silence-for", seconds(&SimConfig::silenceForSeconds, 0.1)},
        {"--silence-every", seconds(&SimConfig::silenceEverySeconds, 0.1)},
        {"--malformed-every", seconds(&SimConfig::malformedEverySeconds, 0.1)},
        {"--reprog-quiet", seconds(&SimConfig::reprogQuietSeconds, 0.1)},
        {"--rate",
         [](const std::string& value, SimConfig& config) {
             long rate = 0;
             const bool ok = readInteger(value, 1, 100'000'000, rate);
             config.rate = static_cast<std::uint64_t>(rate);
             return ok;
         }},
        {"--duration", seconds(&SimConfig::durationSeconds, 0.1)},
        {"--seed",
         [](const std::string& value, SimConfig& config) {
             long seed = 0;
             const bool ok = readInteger(value, 0, 0x7FFFFFFF, seed);
             config.seed = static_cast<std::uint64_t>(seed);
             return ok;
         }},
        {"--listen", [](const std::string& value,
                        SimConfig& config) { return readListenMode(value, config.listen); }},
        {"--listen-port", port(&SimConfig::listenPort, 1)},
        {"--pcap-interface",
         [](const std::string& value, SimConfig& config) {
             config.pcapInterface = value;
             return !value.empty();
         }},
        {"--http-port", port(&SimConfig::httpPort, 1)},
    };
    return options;
}

}  // namespace

const char* listenModeText(ListenMode mode) {
    switch (mode) {
        case ListenMode::Auto:
            return "auto";
        case ListenMode::Bind:
            return "bind";
        case ListenMode::Pcap:
            return "pcap";
        case ListenMode::Off:
            return "off";
    }
    return "";
}

OptionsOutcome parseSimOptions(std::span<const std::string> args, SimConfig& config,
                               std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "-h" || name == "--help") {
            return OptionsOutcome::Help;
        }
        if (name == "--silence" || name == "--malformed") {
            (name == "--silence" ? config.silence : config.malformed) = true;
            continue;
        }
        std::string value;
        bool haveValue = false;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            haveValue = true;
        }
        if (name == "-n") {
            name = "--devices";
        }
        const auto option = valueOptions().find(name);
        if (option == valueOptions().end()) {
            error = "unknown option " + name + " (see --help)";
            return OptionsOutcome::Error;
        }
        if (!haveValue) {
            if (i + 1 == args.size()) {
                error = name + " needs a value";
                return OptionsOutcome::Error;
            }
            value = args[++i];
        }
        if (!option->second(value, config)) {
            error = "bad value '" + value + "' for " + name + " (see --help)";
            return OptionsOutcome::Error;
        }
    }
    return OptionsOutcome::Run;
}

std::string simHelpText() {
    return R"(qvlink-sim: a set of simulated QV-LINK field devices on the bus

Usage: qvlink-sim [options]

Devices
  -n, --devices N         number of devices, 1 to 400 (default 12)
      --types LIST        device type codes to use in turn, e.g. 1,16,8 (default: a mix
                          of all eight types: 1, 8, 16, 17, 18, 33, 34, 204)
      --base-ip IP        source address of the first device; the others follow
                          (default 127.0.0.11; every 127.x address works on loopback)
      --target HOST       where the devices send (default 127.0.0.1)
      --port P            destination UDP port (default 973)
      --source-port P     UDP source port of every device (default: ephemeral)
      --cycle S           period of the cyclic TS/TI reports in seconds (default 10)

Scenarios
      --loss P            skip each sequence number with probability P (0 to 0.99);
                          numbers 255 and 0 are kept so every gap counts as one miss
      --restart-every S   each sequenced device restarts its numbering every S seconds
      --silence           one device at a time goes silent, then comes back
      --silence-for S     length of a silence (default 75, so the row greys out)
      --silence-every S   time between silences (default 150; the first after 15 s)
      --malformed         send datagrams a monitor must ignore: bad magic, unknown
                          type, too short, too long
      --malformed-every S time between malformed datagrams (default 5)
      --rate N            load mode: N datagrams per second of cyclic reports, time-tagged
                          sporadic reports and messages, paced, measured rate printed
                          every second
      --duration S        stop after S seconds (default: run until Ctrl+C)
      --seed N            seed of every random choice, for repeatable runs (default 1)

Commands from a monitor
      --listen MODE       how the change-IP broadcast is heard (default auto):
                            bind  own UDP socket on the listen port; for another host
                                  or network namespace than the monitor's
                            pcap  capture "udp dst port <listen port>" beside a monitor
                                  on this host, by the capture helper; needs root or
                                  the right to capture
                            off   commands are not heard
                            auto  pcap when capture is permitted, else bind when the
                                  port is free, else off
      --listen-port P     port of the change-IP broadcast (default 973)
      --pcap-interface I  capture interface (default any)
      --http-port P       TCP port of each device's firmware-update form (default 80;
                          below 1024 needs root or cap_net_bind_service)
      --reprog-quiet S    quiet time after a firmware-update request (default 5)

  -h, --help              this text
)";
}

}  // namespace qvlink::sim
