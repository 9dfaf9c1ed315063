// qvlink-dump's metrics endpoint: the real server scraped over loopback while a capture is
// being counted.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "dump/capture_file.h"
#include "dump/dump_session.h"
#include "dump/dump_test_support.h"
#include "metrics/metrics_server.h"
#include "support/http_get.h"
#include "support/packet_builder.h"

namespace qvlink::test {
namespace {

constexpr MetricsEndpoint kLoopbackAnyPort{0x7F000001, 0};

/// A session over an (empty) Ethernet capture file, fed frame by frame by the test, with
/// its metrics served.
class DumpMetrics : public ScratchFolder {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        CaptureFile(path("empty.pcap"), DLT_EN10MB).close();
        source.emplace(dump::CaptureSource::openFile(path("empty.pcap")));
        options.quiet = true;
        options.metrics = kLoopbackAnyPort;
        session.emplace(options, *source, stdout, FormatSettings{});
    }

    void feed(std::int64_t ms, std::uint32_t senderIp, const Bytes& datagram) {
        UdpEndpoints endpoints;
        endpoints.sourceIp = senderIp;
        const Bytes frame =
            linkFrame(DLT_EN10MB, ipv4Packet(endpoints, 17, udpSegment(endpoints, datagram)));
        pcap_pkthdr header{};
        header.ts = {1'765'281'600 + ms / 1000, static_cast<suseconds_t>(ms % 1000 * 1000)};
        header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
        session->onFrame(header, frame.data());
    }

    /// The value of the sample line starting with `series` in `body`, or -1.
    static long long valueOf(const std::string& body, const std::string& series) {
        for (const std::string& line : splitLines(body)) {
            if (line.starts_with(series + ' ')) {
                return std::stoll(line.substr(series.size() + 1));
            }
        }
        return -1;
    }

    std::string scrape(const MetricsServer& server) {
        return httpBody(httpExchange(server.port(), "GET", "/metrics"));
    }

    dump::DumpOptions options;
    std::optional<dump::CaptureSource> source;
    std::optional<dump::DumpSession> session;
};

const std::string kTironClass2 =
    "qvlink_datagrams_total{device_type=\"1\",device_name=\"Тирон\",class=\"2\"}";
const std::string kBadMagic = "qvlink_dropped_datagrams_total{reason=\"bad magic\"}";
const std::string kMissed =
    "qvlink_device_missed_datagrams_total{mac=\"FA:CE:01:00:11:22\",device_type=\"1\"}";

TEST_F(DumpMetrics, ScrapesFollowTheCaptureAndCarryTheCallersGauges) {
    session->addMetricsSource([] {
        return std::vector<MetricFamily>{{"qvlink_mqtt_queue_depth",
                                          "Messages waiting for the broker.",
                                          MetricType::Gauge,
                                          {{{}, 7}}}};
    });
    const MetricsServer server(kLoopbackAnyPort, [this] { return session->metricsText(); });
    Bytes badMagic = sequencedDatagram(1, 0x001122, 0, kClassTs, 2, {5, 0, 1});
    badMagic[1] = 0xCF;

    feed(0, ipv4(10, 0, 0, 5), sequencedDatagram(1, 0x001122, 1, kClassTs, 2, {5, 0, 1}));
    feed(300, ipv4(10, 0, 0, 9), badMagic);
    std::string body = scrape(server);
    EXPECT_EQ(valueOf(body, kTironClass2), 1) << body;
    EXPECT_EQ(valueOf(body, kBadMagic), 1);
    EXPECT_EQ(valueOf(body, "qvlink_devices_online"), 1);
    EXPECT_EQ(valueOf(body, kMissed), 0);
    EXPECT_EQ(valueOf(body, "qvlink_mqtt_queue_depth"), 7);

    feed(1000, ipv4(10, 0, 0, 5), sequencedDatagram(1, 0x001122, 4, kClassTs, 2, {5, 0, 1}));
    feed(2000, ipv4(10, 0, 0, 60),
         sequencedDatagram(16, 0x3C, 1, kClassTi, 3, {2, 0, 0, 0, 0x80, 0x3F, 0}));
    feed(70000, ipv4(10, 0, 0, 60),
         sequencedDatagram(16, 0x3C, 2, kClassTi, 3, {2, 0, 0, 0, 0x80, 0x3F, 0}));
    body = scrape(server);
    EXPECT_EQ(valueOf(body, kTironClass2), 2) << body;
    EXPECT_EQ(valueOf(body, kMissed), 1) << "sequence 1 to 4";
    EXPECT_EQ(valueOf(body, "qvlink_devices"), 2);
    EXPECT_EQ(valueOf(body, "qvlink_devices_online"), 1) << "one silent for 69 s";
}

// A race between the capture thread's counting and a scrape shows up under the thread
// sanitizer, or as a torn count.
TEST_F(DumpMetrics, ScrapesDuringAFastCaptureSeeConsistentCounts) {
    const MetricsServer server(kLoopbackAnyPort, [this] { return session->metricsText(); });
    constexpr int kDatagrams = 20000;
    std::thread capture([this] {
        for (int i = 0; i < kDatagrams; ++i) {
            feed(i, ipv4(10, 0, 0, 5),
                 sequencedDatagram(1, 0x001122, static_cast<std::uint8_t>(i), kClassTs, 2,
                                   {5, 0, 1}));
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    long long previous = 0;
    int scrapes = 0;
    for (long long seen = 0; seen < kDatagrams && std::chrono::steady_clock::now() < deadline;
         ++scrapes) {
        seen = std::max(0LL, valueOf(scrape(server), kTironClass2));  // -1: none counted yet
        EXPECT_GE(seen, previous);
        previous = seen;
    }
    capture.join();
    EXPECT_EQ(previous, kDatagrams);
    EXPECT_GE(scrapes, 1);
    EXPECT_EQ(valueOf(scrape(server), kMissed), 0);
}

}  // namespace
}  // namespace qvlink::test
