// The simulator's readers of what a monitor sends it: the change-IP broadcast (as framed
// by the monitor's own framer, raw or inside a captured frame), the firmware-update request
// and the command line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http_request.h"
#include "protocol/command.h"
#include "set_ip_command.h"
#include "sim_options.h"

namespace qvlink::sim {
namespace {

std::vector<std::uint8_t> setIpCommand(CommandFramer& framer, const char* mac, const char* ip) {
    DatagramArea area{};
    std::size_t length = 0;
    EXPECT_TRUE(framer.buildSetIpCommand(mac, ip, area, length));
    return {area.begin(), area.begin() + static_cast<std::ptrdiff_t>(length)};
}

TEST(SetIpCommandParsing, ReadsWhatTheMonitorFrames) {
    CommandFramer framer;
    SetIpCommand command;
    ASSERT_TRUE(
        parseSetIpCommand(setIpCommand(framer, "FA:CE:10:5A:00:03", "127.0.0.99"), command));
    EXPECT_EQ(command.seq, 0);
    EXPECT_EQ(command.macText, "FA:CE:10:5A:00:03");
    EXPECT_EQ(command.ipText, "127.0.0.99");
    ASSERT_TRUE(parseSetIpCommand(setIpCommand(framer, "FA:CE:01:5A:00:01", "10.0.0.5"), command));
    EXPECT_EQ(command.seq, 1);
    EXPECT_EQ(command.ipText, "10.0.0.5");
}

TEST(SetIpCommandParsing, RefusesEverythingElse) {
    CommandFramer framer;
    const std::vector<std::uint8_t> good = setIpCommand(framer, "FA:CE:10:5A:00:03", "10.0.0.5");
    struct Case {
        const char* name;
        std::size_t offset;
        std::uint8_t value;
    };
    for (const Case c :
         {Case{"bad magic", 1, 0xCF}, Case{"device type set", 2, 16}, Case{"address set", 5, 1},
          Case{"other class", 7, kClassTs}, Case{"other subtype", 8, 3}, Case{"no space", 26, '_'},
          Case{"empty MAC", 9, ' '}}) {
        std::vector<std::uint8_t> bytes = good;
        bytes[c.offset] = c.value;
        SetIpCommand command;
        EXPECT_FALSE(parseSetIpCommand(bytes, command)) << c.name;
    }
    SetIpCommand command;
    EXPECT_FALSE(parseSetIpCommand(std::span(good).first(kPayloadOffset), command));
}

// The request a monitor sends, each line ending CR LF.
const std::string kMonitorRequest =
    "POST / HTTP/1.0\r\nHost: 127.0.0.12\r\nAccept: text/html, */*\r\n"
    "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\nContent-Length: 11\r\n\r\n"
    "reprog={}\r\n";

TEST(HttpRequestParsing, MonitorsRequestIsCompleteOnlyWithItsWholeBody) {
    HttpRequest request;
    for (std::size_t cut = 0; cut < kMonitorRequest.size(); ++cut) {
        ASSERT_EQ(parseHttpRequest(kMonitorRequest.substr(0, cut), request), HttpParse::Incomplete)
            << cut;
    }
    ASSERT_EQ(parseHttpRequest(kMonitorRequest, request), HttpParse::Complete);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/");
    EXPECT_EQ(request.body, "reprog={}\r\n");
    EXPECT_TRUE(isReprogRequest(request));
}

TEST(HttpRequestParsing, OnlyAPostedReprogFormAsksForFirmwareUpdate) {
    struct Case {
        std::string bytes;
        HttpParse parse;
        bool reprog;
    };
    const std::vector<Case> cases{
        {"POST /x HTTP/1.1\ncontent-length:  9\n\nreprog={}", HttpParse::Complete, true},
        {"POST / HTTP/1.0\r\nContent-Length: 16\r\n\r\na=1\r\nreprog={}\r\n", HttpParse::Complete,
         true},
        {"GET / HTTP/1.0\r\n\r\n", HttpParse::Complete, false},
        {"POST / HTTP/1.0\r\nContent-Length: 8\r\n\r\nreprog=1", HttpParse::Complete, false},
        {"POST / HTTP/1.0\r\n\r\n", HttpParse::Complete, false},
        {"garbage\r\n\r\n", HttpParse::Malformed, false},
        {"POST / HTTP/1.0\r\nContent-Length: abc\r\n\r\n", HttpParse::Malformed, false},
        {"POST / HTTP/1.0\r\nContent-Length: 99999999\r\n\r\n", HttpParse::Malformed, false},
        {"POST / HTTP/1.0\r\nX: " + std::string(9000, 'x'), HttpParse::Malformed, false},
    };
    for (const Case& c : cases) {
        HttpRequest request;
        EXPECT_EQ(parseHttpRequest(c.bytes, request), c.parse) << c.bytes.substr(0, 40);
        EXPECT_EQ(c.parse == HttpParse::Complete && isReprogRequest(request), c.reprog)
            << c.bytes.substr(0, 40);
    }
    EXPECT_TRUE(httpResponse(200, "OK", "done").starts_with("HTTP/1.0 200 OK\r\n"));
    EXPECT_TRUE(httpResponse(200, "OK", "done")
                    .ends_with("Content-Length: 4\r\nConnection: close\r\n\r\ndone"));
}

TEST(CommandLine, ReadsEveryFormOfValue) {
    const std::vector<std::string> args{
        "-n",        "3",        "--types=1,16,8", "--loss",           "0.25",
        "--silence", "--listen", "bind",           "--http-port=8080", "--rate",
        "200000",    "--target", "10.1.2.3"};
    SimConfig config;
    std::string error;
    ASSERT_EQ(parseSimOptions(args, config, error), OptionsOutcome::Run) << error;
    EXPECT_EQ(config.deviceCount, 3);
    EXPECT_EQ(config.types, (std::vector<std::uint8_t>{1, 16, 8}));
    EXPECT_EQ(config.loss, 0.25);
    EXPECT_TRUE(config.silence);
    EXPECT_FALSE(config.malformed);
    EXPECT_EQ(config.listen, ListenMode::Bind);
    EXPECT_EQ(config.httpPort, 8080);
    EXPECT_EQ(config.rate, 200000U);
    EXPECT_EQ(config.target, "10.1.2.3");
}

TEST(CommandLine, RefusesWhatItCannotUse) {
    const std::vector<std::vector<std::string>> bad{
        {"--types", "1,2"}, {"--types", "1,"},   {"-n", "0"},         {"-n", "401"},
        {"--loss", "1"},    {"--port", "70000"}, {"--listen", "raw"}, {"--base-ip", "1.2.3"},
        {"--rate"},         {"--bogus"},         {"--cycle", "x"},    {"--duration=-1"}};
    for (const auto& args : bad) {
        SimConfig config;
        std::string error;
        EXPECT_EQ(parseSimOptions(args, config, error), OptionsOutcome::Error) << args[0];
        EXPECT_FALSE(error.empty());
    }
    SimConfig config;
    std::string error;
    EXPECT_EQ(parseSimOptions(std::vector<std::string>{"--help"}, config, error),
              OptionsOutcome::Help);
    for (const char* flag :
         {"--devices", "--types", "--base-ip", "--target", "--port", "--source-port", "--loss",
          "--restart-every", "--silence-for", "--malformed-every", "--rate", "--duration", "--seed",
          "--listen", "--listen-port", "--pcap-interface", "--http-port", "--reprog-quiet"}) {
        EXPECT_NE(simHelpText().find(flag), std::string::npos) << flag;
    }
}

}  // namespace
}  // namespace qvlink::sim
