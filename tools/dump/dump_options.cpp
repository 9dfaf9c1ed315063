#include "dump/dump_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "dump/dump_error.h"

namespace qvlink::dump {

namespace {

constexpr double kBytesPerMegabyte = 1e6;

[[noreturn]] void usageError(const std::string& message) {
    throw DumpError(ExitCode::Usage, message + " (see qvlink-dump --help)");
}

long long parseInteger(const std::string& option, const std::string& text, long long min,
                       long long max) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < min || value > max) {
        usageError(option + " needs a whole number from " + std::to_string(min) + " to " +
                   std::to_string(max) + ", not \"" + text + "\"");
    }
    return value;
}

/// The whole text as a decimal number; nothing when it holds anything else.
std::optional<double> readDecimal(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0) {
        return std::nullopt;
    }
    return value;
}

std::uint64_t parseMegabytes(const std::string& option, const std::string& text) {
    const std::optional<double> megabytes = readDecimal(text);
    const double bytes = megabytes.value_or(0.0) * kBytesPerMegabyte;
    if (!(bytes >= 1.0) || bytes > 1e15) {
        usageError(option + " needs a size in megabytes above zero (e.g. 100 or 0.5), not \"" +
                   text + "\"");
    }
    return static_cast<std::uint64_t>(std::llround(bytes));
}

struct OptionSpec {
    std::string_view shortName;
    std::string_view longName;
    bool takesValue;
};

constexpr OptionSpec kOptions[] = {
    {"-i", "--interface", true},
    {"-r", "--read", true},
    {"-p", "--port", true},
    {"-w", "--write", true},
    {"", "--csv", true},
    {"-C", "--rotate-size", true},
    {"-W", "--ring-files", true},
    {"-q", "--quiet", false},
    {"", "--stats", false},
    {"", "--metrics", true},
    {"-h", "--help", false},
    {"", "--mqtt", true},
    {"", "--mqtt-credentials", true},
    {"", "--mqtt-ca", true},
    {"", "--mqtt-insecure", false},
    {"", "--mqtt-raw", false},
    {"", "--mqtt-ti-interval", true},
};

/// Longest --mqtt-ti-interval: an hour.
constexpr double kMaxTiIntervalSeconds = 3600.0;

std::int64_t parseSeconds(const std::string& option, const std::string& text) {
    const std::optional<double> seconds = readDecimal(text);
    if (!seconds || !(*seconds >= 0.0) || *seconds > kMaxTiIntervalSeconds) {
        usageError(option + " needs seconds from 0 to 3600 (e.g. 1 or 0.25), not \"" + text + "\"");
    }
    return std::llround(*seconds * 1e6);
}

// Splits "--name=value" and finds the option; nullptr when unknown.
const OptionSpec* findOption(std::string_view argument, std::optional<std::string>& inlineValue) {
    const std::size_t equals = argument.find('=');
    if (argument.starts_with("--") && equals != std::string_view::npos) {
        inlineValue = std::string(argument.substr(equals + 1));
        argument = argument.substr(0, equals);
    }
    for (const OptionSpec& known : kOptions) {
        if (argument == known.shortName || argument == known.longName) {
            return &known;
        }
    }
    return nullptr;
}

}  // namespace

DumpOptions parseDumpOptions(const std::vector<std::string>& arguments) {
    DumpOptions options;
    bool interfaceGiven = false;
    bool ringGiven = false;
    bool mqttGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::optional<std::string> value;
        const OptionSpec* known = findOption(argument, value);
        if (known == nullptr) {
            usageError("unknown argument \"" + argument + "\"");
        }
        const std::string name(known->longName);
        if (known->takesValue && !value) {
            if (i + 1 == arguments.size()) {
                usageError(argument + " needs a value");
            }
            value = arguments[++i];
        } else if (!known->takesValue && value) {
            usageError(name + " takes no value");
        }

        if (name == "--interface") {
            options.interface = *value;
            interfaceGiven = true;
        } else if (name == "--read") {
            options.readFile = *value;
        } else if (name == "--port") {
            options.port = static_cast<std::uint16_t>(parseInteger(argument, *value, 1, 65535));
        } else if (name == "--write") {
            options.pcapFile = *value;
        } else if (name == "--csv") {
            options.csvFile = *value;
        } else if (name == "--rotate-size") {
            options.rotation.maxBytes = parseMegabytes(argument, *value);
        } else if (name == "--ring-files") {
            options.rotation.maxFiles = static_cast<int>(parseInteger(argument, *value, 1, 100000));
            ringGiven = true;
        } else if (name == "--quiet") {
            options.quiet = true;
        } else if (name == "--stats") {
            options.stats = true;
        } else if (name == "--metrics") {
            options.metrics = parseMetricsEndpoint(*value);
            if (!options.metrics) {
                usageError("--metrics needs ADDRESS:PORT (e.g. 127.0.0.1:9973), not \"" + *value +
                           "\"");
            }
        } else if (name == "--mqtt") {
            options.mqtt.url = *value;
        } else if (name == "--mqtt-credentials") {
            options.mqtt.credentialsFile = *value;
        } else if (name == "--mqtt-ca") {
            options.mqtt.caFile = *value;
        } else if (name == "--mqtt-insecure") {
            options.mqtt.insecure = true;
        } else if (name == "--mqtt-raw") {
            options.mqttRaw = true;
        } else if (name == "--mqtt-ti-interval") {
            options.mqttTiIntervalUs = parseSeconds(argument, *value);
            mqttGiven = true;
        } else {
            options.help = true;
        }
    }

    if (interfaceGiven && !options.readFile.empty()) {
        usageError("-i and -r exclude each other");
    }
    if (ringGiven && options.rotation.maxBytes == 0) {
        usageError("-W needs a file size limit (-C)");
    }
    if ((options.rotation.maxBytes != 0 || ringGiven) && options.pcapFile.empty() &&
        options.csvFile.empty()) {
        usageError("-C and -W apply to -w or --csv output");
    }
    mqttGiven = mqttGiven || options.mqttRaw || options.mqtt.insecure ||
                !options.mqtt.credentialsFile.empty() || !options.mqtt.caFile.empty();
    if (mqttGiven && options.mqtt.url.empty()) {
        usageError("the --mqtt-... options apply to --mqtt");
    }
    if (options.rotation.maxBytes != 0 && !ringGiven) {
        options.rotation.maxFiles = kDefaultRingFiles;
    }
    return options;
}

std::string dumpUsage() {
    return R"(Usage: qvlink-dump [-i IFACE | -r FILE] [options]

Shows every QV-LINK bus datagram (IPv4 UDP to or from the bus port) with the texts of
the monitor's trace, one line per datagram:

  TIME<TAB>SENDER IP<TAB>HEX DUMP<TAB>DESCRIPTION

TIME is the local time of day of the capture, with milliseconds. A datagram the monitor
would drop shows "[dropped: REASON]" (bad magic, too short, unknown type, too long) as its
description, a later IP fragment "[fragment]" and one the capture holds only in part
"[truncated]". Control characters of text messages are written as \xNN, "\" as "\\".
Live capture works beside a running monitor: it does not use the bus port.

Capture:
  -i, --interface IFACE   live capture on IFACE (default: any)
  -r, --read FILE         read a pcap or pcapng file instead
  -p, --port PORT         bus UDP port (default: 973)

Output:
  -q, --quiet             no datagram lines on standard output
  -w, --write FILE        write the bus frames to a pcap file
      --csv FILE          write the datagrams as CSV (UTF-8, CRLF, header row):
                          date,time,ip,hex,description,status
  -C, --rotate-size MB    start a new -w/--csv file when one reaches MB megabytes
                          (10^6 bytes; fractions allowed): FILE is the newest,
                          FILE.1 the one before it, and so on
  -W, --ring-files N      keep at most N files per output (default with -C: 10)
      --stats             on exit, per-device statistics (datagrams, missed,
                          restarts, counted as the monitor counts them) and the
                          datagrams not decoded by reason, on standard error
      --metrics ADDR:PORT serve the bus counters over HTTP at /metrics in the
                          Prometheus text format while capturing (e.g.
                          127.0.0.1:9973; 0.0.0.0 for every interface)
  -h, --help              this text

Publishing to an MQTT broker:
      --mqtt URL          publish the bus to a broker while capturing:
                          mqtt://HOST[:PORT]/PREFIX or mqtts://... (TLS). Topics
                          below PREFIX: status ("online", "offline" as last will),
                          status/drops, device/MAC, ts/N, ti/N (retained JSON),
                          event (device events, QoS 1), raw (with --mqtt-raw)
      --mqtt-credentials FILE
                          broker account: user on the first line, password on
                          the second (the file must not be readable by others);
                          without it QVLINK_MQTT_USER and QVLINK_MQTT_PASSWORD
      --mqtt-ca FILE      certificate authorities for mqtts:// (default: the
                          system's)
      --mqtt-insecure     mqtts:// WITHOUT checking the broker's certificate:
                          anyone in between can read and alter the traffic
      --mqtt-raw          also publish every datagram as captured on PREFIX/raw
                          (binary records, batched up to 10 ms)
      --mqtt-ti-interval SECONDS
                          publish a TI point at most once per SECONDS (default 1;
                          0: every change); TS points go out on every change

SIGINT or SIGTERM ends a live capture; statistics are printed and files closed.

Exit status:
  0  the capture ended normally (end of file, or stopped by a signal)
  1  bad command line, or the --metrics address cannot be served
  2  the capture could not be opened or failed (no capture right, unknown
     interface, unreadable file, unsupported link type)
  3  an output file could not be written
  4  the broker did not take everything published before the end (unreachable)
)";
}

}  // namespace qvlink::dump
