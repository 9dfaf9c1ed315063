// The simulator's readers of what a monitor sends it: the change-IP broadcast (as framed
// by the monitor's own framer, raw or inside a captured frame), the firmware-update request
// and the command line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "captured_frame.h"
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

/// An IPv4 UDP packet to port 973 carrying `payload`, after `linkHeader`.
std::vector<std::uint8_t> frame(std::vector<std::uint8_t> linkHeader,
                                const std::vector<std::uint8_t>& payload) {
    const auto udpSize = static_cast<std::uint16_t>(8 + payload.size());
    const auto ipSize = static_cast<std::uint16_t>(20 + udpSize);
    std::vector<std::uint8_t> bytes = std::move(linkHeader);
    const std::vector<std::uint8_t> headers{0x45,
                                            0,
                                            static_cast<std::uint8_t>(ipSize >> 8),
                                            static_cast<std::uint8_t>(ipSize),
                                            0,
                                            1,
                                            0x40,
                                            0,
                                            64,
                                            17,
                                            0,
                                            0,
                                            127,
                                            0,
                                            0,
                                            1,
                                            255,
                                            255,
                                            255,
                                            255,  // IPv4, don't fragment
                                            0x03,
                                            0xCD,
                                            0x03,
                                            0xCD,
                                            static_cast<std::uint8_t>(udpSize >> 8),
                                            static_cast<std::uint8_t>(udpSize),
                                            0,
                                            0};
    bytes.insert(bytes.end(), headers.begin(), headers.end());
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

TEST(CapturedFrames, UdpPayloadIsFoundBehindEveryLinkLayer) {
    const std::vector<std::uint8_t> payload{0xFA, 0xCE, 0, 0, 0, 0, 7, 6, 10, 'x'};
    std::vector<std::uint8_t> ethernet(14, 0);
    ethernet[12] = 0x08;
    std::vector<std::uint8_t> vlan(18, 0);
    vlan[12] = 0x81;
    vlan[16] = 0x08;
    std::vector<std::uint8_t> cooked(16, 0);
    cooked[14] = 0x08;
    std::vector<std::uint8_t> cooked2(20, 0);
    cooked2[0] = 0x08;
    struct Case {
        const char* name;
        int linkType;
        std::vector<std::uint8_t> header;
    };
    for (const Case& c :
         {Case{"ethernet", 1, ethernet}, Case{"vlan", 1, vlan}, Case{"cooked", 113, cooked},
          Case{"cooked v2", 276, cooked2}, Case{"null", 0, {2, 0, 0, 0}}, Case{"raw", 12, {}}}) {
        std::span<const std::uint8_t> found;
        const std::vector<std::uint8_t> bytes = frame(c.header, payload);
        ASSERT_TRUE(udpPayloadOfFrame(c.linkType, bytes, found)) << c.name;
        EXPECT_TRUE(std::ranges::equal(found, payload)) << c.name;
    }
}

TEST(CapturedFrames, RefusesOtherProtocolsFragmentsAndCutFrames) {
    const std::vector<std::uint8_t> good = frame({}, {1, 2, 3});
    std::span<const std::uint8_t> found;
    struct Case {
        const char* name;
        std::size_t offset;
        std::uint8_t value;
    };
    for (const Case c : {Case{"tcp", 9, 6}, Case{"ipv6", 0, 0x65}, Case{"fragment", 7, 1},
                         Case{"more fragments", 6, 0x20}, Case{"udp length too big", 25, 200}}) {
        std::vector<std::uint8_t> bytes = good;
        bytes[c.offset] = c.value;
        EXPECT_FALSE(udpPayloadOfFrame(12, bytes, found)) << c.name;
    }
    EXPECT_FALSE(udpPayloadOfFrame(12, std::span(good).first(good.size() - 1), found));
    EXPECT_FALSE(udpPayloadOfFrame(1, std::span(good).first(10), found));
    EXPECT_FALSE(udpPayloadOfFrame(105, good, found));  // 802.11: not read
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
