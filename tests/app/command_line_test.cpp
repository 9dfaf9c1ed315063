#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace qvlink {
namespace {

struct CommandLineCase {
    const char* name;
    QStringList arguments;  // after the program name
    bool run;
    int exitCode;
    const char* errorPart;  // in stderr when leaving with an error
};

class CommandLineTable : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTable, RunsOrLeavesWithTheExitCodeAndMessage) {
    const CommandLineCase& row = GetParam();
    const CommandLine line = parseCommandLine(QStringList{"qvlink-monitor"} + row.arguments);
    EXPECT_EQ(line.run, row.run);
    EXPECT_EQ(line.exitCode, row.exitCode);
    EXPECT_NE(line.error.find(row.errorPart), std::string::npos) << line.error;
    if (row.exitCode == kUsageExitCode) {
        EXPECT_TRUE(line.output.empty());
        EXPECT_NE(line.error.find("qvlink-monitor --help"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, CommandLineTable,
    ::testing::Values(
        CommandLineCase{"NoOptions", {}, true, 0, ""},
        CommandLineCase{"AllHistoryOptions",
                        {"--history", "/tmp/h.db", "--history-days", "3", "--history-max-mb=50"},
                        true,
                        0,
                        ""},
        CommandLineCase{"Help", {"--help"}, false, 0, ""},
        CommandLineCase{"Version", {"--version"}, false, 0, ""},
        CommandLineCase{"UnknownOption", {"--colour"}, false, 2, "Unknown option 'colour'"},
        CommandLineCase{"StrayArgument", {"file.db"}, false, 2, "unexpected argument \"file.db\""},
        CommandLineCase{"MissingValue", {"--history"}, false, 2, "Missing value after"},
        CommandLineCase{"ReplayWithoutFile", {"--replay"}, false, 2, "Missing value after"},
        CommandLineCase{"ReplayOfEmptyName", {"--replay="}, false, 2, "--replay needs a file"},
        CommandLineCase{"ReplayAndRecord",
                        {"--replay", "a.pcap", "--record", "/tmp"},
                        false,
                        2,
                        "--record and --replay exclude each other"},
        CommandLineCase{"EmptyFile", {"--history="}, false, 2, "--history needs a file name"},
        CommandLineCase{"BothHistoryAndNone",
                        {"--history", "a.db", "--no-history"},
                        false,
                        2,
                        "exclude each other"},
        CommandLineCase{"ZeroDays", {"--history-days", "0"}, false, 2, "from 1 to 3650, not \"0\""},
        CommandLineCase{"WordForDays",
                        {"--history-days", "seven"},
                        false,
                        2,
                        "--history-days needs a whole number"},
        CommandLineCase{"TooManyMegabytes",
                        {"--history-max-mb", "1048577"},
                        false,
                        2,
                        "--history-max-mb needs a whole number from 1 to 1048576"},
        CommandLineCase{"RemoteSource", {"--source", "mqtt://broker/qvlink/site-7"}, true, 0, ""},
        CommandLineCase{"SourceNotABroker", {"--source", "udp://x/y"}, false, 2, "mqtt://"},
        CommandLineCase{"SourceWithoutPrefix", {"--source", "mqtt://broker"}, false, 2, "prefix"},
        CommandLineCase{"ReplayAndSource",
                        {"--replay", "a.pcap", "--source", "mqtt://broker/x"},
                        false,
                        2,
                        "--replay and --source exclude each other"},
        CommandLineCase{"SourceWithAccount",
                        {"--source", "mqtt://u:p@broker/x"},
                        false,
                        2,
                        "--mqtt-credentials"},
        CommandLineCase{
            "CaWithoutSource", {"--mqtt-ca", "ca.pem"}, false, 2, "--mqtt-ca needs --source"},
        CommandLineCase{"InsecureWithoutTls",
                        {"--source", "mqtt://broker/x", "--mqtt-insecure"},
                        false,
                        2,
                        "mqtts://"},
        CommandLineCase{"UnreadableAccountFile",
                        {"--source", "mqtt://broker/x", "--mqtt-credentials", "/nonexistent/a"},
                        false,
                        2,
                        "/nonexistent/a"}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) {
        return std::string(info.param.name);
    });

TEST(CommandLine, DefaultsRecordIntoTheDefaultFileForAWeekAndAGigabyte) {
    const CommandLineOptions options = parseCommandLine({"qvlink-monitor"}).options;
    EXPECT_TRUE(options.recordHistory);
    EXPECT_EQ(options.historyPath, "");
    EXPECT_EQ(options.historyDays, 7);
    EXPECT_EQ(options.historyMaxMb, 1024);
}

TEST(CommandLine, OptionsCarryTheirValues) {
    const CommandLineOptions options =
        parseCommandLine({"qvlink-monitor", "--history", "/tmp/h.db", "--history-days", "3",
                          "--history-max-mb=50"})
            .options;
    EXPECT_EQ(options.historyPath, "/tmp/h.db");
    EXPECT_EQ(options.historyDays, 3);
    EXPECT_EQ(options.historyMaxMb, 50);
    EXPECT_FALSE(parseCommandLine({"qvlink-monitor", "--no-history"}).options.recordHistory);
}

TEST(CommandLine, ReplayTakesEveryFileInTheOrderGiven) {
    const CommandLine line =
        parseCommandLine({"qvlink-monitor", "--replay", "b.pcap", "a.pcapng", "captures/"});
    ASSERT_TRUE(line.run);
    EXPECT_EQ(line.options.replayFiles,
              (std::vector<std::string>{"b.pcap", "a.pcapng", "captures/"}));
    EXPECT_TRUE(parseCommandLine({"qvlink-monitor"}).options.replayFiles.empty());
}

TEST(CommandLine, RemoteSourceCarriesTheBrokerTheAccountAndTheWarnings) {
    const auto environment = [](const char* name) -> const char* {
        return std::string_view(name) == kMqttUserVariable       ? "watcher"
               : std::string_view(name) == kMqttPasswordVariable ? "pw"
                                                                 : nullptr;
    };
    const CommandLine line = parseCommandLine(
        {"qvlink-monitor", "--source", "mqtts://broker/qvlink/site-7", "--mqtt-insecure"},
        environment);
    ASSERT_TRUE(line.run) << line.error;
    ASSERT_TRUE(line.options.remoteSource);
    const MqttEndpoint& endpoint = *line.options.remoteSource;
    EXPECT_EQ(endpoint.url.text(), "mqtts://broker:8883/qvlink/site-7");
    EXPECT_EQ(endpoint.credentials.user, "watcher");
    EXPECT_EQ(endpoint.credentials.password, "pw");
    EXPECT_FALSE(endpoint.tls.verify);
    ASSERT_EQ(line.options.warnings.size(), 1u);
    EXPECT_NE(line.options.warnings[0].find("NOT verified"), std::string::npos);
    EXPECT_FALSE(parseCommandLine({"qvlink-monitor"}).options.remoteSource);
}

TEST(CommandLine, HelpListsEveryOptionAndVersionNamesTheProgram) {
    const std::string help = parseCommandLine({"qvlink-monitor", "--help"}).output;
    for (const char* option :
         {"--help", "--version", "--history <FILE>", "--no-history", "--history-days <N>",
          "--history-max-mb <N>", "--record <DIR>", "--record-rotate-size <MB>",
          "--record-ring-files <N>", "--replay <FILE>", "--source <URL>",
          "--mqtt-credentials <FILE>", "--mqtt-ca <FILE>", "--mqtt-insecure"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(parseCommandLine({"qvlink-monitor", "--version"}).output.rfind("qvlink-monitor ", 0),
              0U);
}

INSTANTIATE_TEST_SUITE_P(
    Recording, CommandLineTable,
    ::testing::Values(
        CommandLineCase{"RecordIntoTmp", {"--record", "/tmp"}, true, 0, ""},
        CommandLineCase{"RecordIntoMissingFolder",
                        {"--record", "/nonexistent/recordings"},
                        false,
                        2,
                        "--record needs a folder that exists and may be written, not "
                        "\"/nonexistent/recordings\""},
        CommandLineCase{
            "RecordIntoAFile", {"--record", "/etc/passwd"}, false, 2, "--record needs a folder"},
        CommandLineCase{"ZeroRotateSize",
                        {"--record-rotate-size", "0"},
                        false,
                        2,
                        "--record-rotate-size needs a size in megabytes above zero"},
        CommandLineCase{"RingWithoutSize",
                        {"--record-ring-files", "3"},
                        false,
                        2,
                        "--record-ring-files needs --record-rotate-size"},
        CommandLineCase{"ZeroRingFiles",
                        {"--record-rotate-size", "5", "--record-ring-files", "0"},
                        false,
                        2,
                        "--record-ring-files needs a whole number from 1 to 100000"}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) {
        return std::string(info.param.name);
    });

TEST(CommandLine, RecordingOptionsCarryTheirValuesAndTheRingDefaultsToTenFiles) {
    const CommandLineOptions plain = parseCommandLine({"qvlink-monitor"}).options;
    EXPECT_EQ(plain.recordFolder, "");
    EXPECT_EQ(plain.recordRotation.maxBytes, 0U);
    const CommandLineOptions sized =
        parseCommandLine({"qvlink-monitor", "--record", "/tmp", "--record-rotate-size", "0.5"})
            .options;
    EXPECT_EQ(sized.recordFolder, "/tmp");
    EXPECT_EQ(sized.recordRotation.maxBytes, 500'000U);
    EXPECT_EQ(sized.recordRotation.maxFiles, kDefaultRecordRingFiles);
    const CommandLineOptions ring =
        parseCommandLine({"qvlink-monitor", "--record-rotate-size=2", "--record-ring-files=3"})
            .options;
    EXPECT_EQ(ring.recordRotation.maxBytes, 2'000'000U);
    EXPECT_EQ(ring.recordRotation.maxFiles, 3);
}

}  // namespace
}  // namespace qvlink
