// The monitor's reception and qvlink-dump count the same capture alike: every cell of the
// device table and every drop count printed by the tool is what the monitor's own
// accounting shows for the same datagrams at the same times.

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "app/bus_reception.h"
#include "busstats/statistics_table.h"
#include "dump/bus_corpus.h"
#include "dump/capture_file.h"
#include "dump/dump_test_support.h"
#include "support/packet_builder.h"

namespace qvlink::test {
namespace {

struct Timed {
    std::int64_t ms;  ///< after corpusStart()
    std::string ip;
    Bytes bytes;
};

std::vector<Timed> script() {
    std::vector<Timed> datagrams;
    // A steady device that loses one datagram and restarts, a slower irregular one, a
    // class-only one, and senders of garbage.
    const std::uint8_t sequence[] = {1, 2, 3, 5, 6, 7, 0, 1, 2, 3, 4, 5};
    for (int i = 0; i < 12; ++i) {
        datagrams.push_back({i * 1000, "10.0.0.5",
                             sequencedDatagram(1, 0x112233, sequence[i], kClassTs, 2, {5, 0, 1})});
    }
    for (const std::int64_t ms : {300, 2700, 3100, 6900, 7400, 9100}) {
        datagrams.push_back({ms, "10.0.0.60",
                             sequencedDatagram(16, 0x3C, static_cast<std::uint8_t>(ms / 100),
                                               kClassTi, 3, {2, 0, 0, 0, 0x80, 0x3F, 0})});
    }
    for (const std::int64_t ms : {500, 5500, 10500}) {
        datagrams.push_back({ms, "10.0.0.204", classOnlyDatagram(204, 0xCC, kClassOnlyTi)});
    }
    Bytes badMagic = sequencedDatagram(1, 1, 0, kClassTs, 2, {5, 0, 1});
    badMagic[1] = 0xCF;
    Bytes tooLong = sequencedDatagram(1, 1, 0, kClassTs, 2, {5, 0, 1});
    tooLong.resize(kMaxDatagramSize + 1);
    datagrams.push_back({1200, "10.0.0.9", badMagic});
    datagrams.push_back({4200, "10.0.0.10", badMagic});
    datagrams.push_back({4300, "10.0.0.11", {0xFA, 0xCE, 1, 0, 0, 1, 5, 2, 3}});
    datagrams.push_back({8300, "10.0.0.12", sequencedDatagram(2, 1, 0, kClassTs, 2, {5})});
    datagrams.push_back({8800, "10.0.0.13", tooLong});
    std::stable_sort(datagrams.begin(), datagrams.end(),
                     [](const Timed& a, const Timed& b) { return a.ms < b.ms; });
    return datagrams;
}

timeval captureTime(std::int64_t ms) {
    const timeval start = corpusStart();
    return {start.tv_sec + ms / 1000, static_cast<suseconds_t>(ms % 1000 * 1000)};
}

/// The local time of a capture time as qvlink-dump shows it with TZ=UTC.
LocalDateTime utcTime(std::int64_t ms) {
    const std::time_t second = captureTime(ms).tv_sec;
    std::tm utc{};
    gmtime_r(&second, &utc);
    return {utc.tm_year + 1900,
            utc.tm_mon + 1,
            utc.tm_mday,
            utc.tm_hour,
            utc.tm_min,
            utc.tm_sec,
            static_cast<int>(ms % 1000)};
}

std::uint32_t senderAddress(const std::string& ip) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(ip.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    return (a << 24) | (b << 16) | (c << 8) | d;
}

using StatisticsAgreement = ScratchFolder;

TEST_F(StatisticsAgreement, TheMonitorAndTheCaptureToolShowTheSameStatistics) {
    const std::vector<Timed> datagrams = script();
    {
        CaptureFile file(path("bus.pcap"), DLT_EN10MB);
        for (const Timed& datagram : datagrams) {
            UdpEndpoints endpoints;
            endpoints.sourceIp = senderAddress(datagram.ip);
            file.addDatagram(captureTime(datagram.ms), datagram.bytes, endpoints);
        }
    }
    const ProcessResult dump = runDump({"-r", path("bus.pcap"), "-q", "--stats"});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;

    // The monitor's reception, fed the same datagrams at the capture's times.
    std::int64_t nowMs = 0;
    DeviceRegistry registry([&nowMs] { return utcTime(nowMs); });
    TeleparamTables tables([&nowMs] { return utcTime(nowMs); });
    BusStatistics statistics(registry);
    const std::int64_t startMs = std::int64_t{captureTime(0).tv_sec} * 1000;
    BusReception reception(registry, tables, statistics, [&] { return startMs + nowMs; });
    for (const Timed& datagram : datagrams) {
        nowMs = datagram.ms;
        reception.receive(datagram.bytes.data(), datagram.bytes.size(), datagram.ip);
    }

    auto printed = statisticsDevices(dump.err);
    const std::vector<StatisticsRow> shown =
        deviceRows(statistics, startMs + nowMs, {".", ":"}, StatisticsLanguage::English);
    ASSERT_EQ(printed.size(), 3u) << dump.err;
    ASSERT_EQ(shown.size(), 3u);
    for (const StatisticsRow& row : shown) {
        const std::string& mac = row[0].text;
        for (std::size_t c = 0; c < kDeviceColumnCount; ++c) {
            EXPECT_EQ(printed[mac][kDeviceColumns[c].name], row[c].text)
                << mac << " " << kDeviceColumns[c].name;
        }
    }
    // Not a trivial agreement: the steady device lost one datagram and restarted once.
    EXPECT_EQ(printed["FA:CE:01:11:22:33"]["missed"], "1");
    EXPECT_EQ(printed["FA:CE:01:11:22:33"]["restarts"], "1");
    EXPECT_EQ(printed["FA:CE:01:11:22:33"]["interval"], "1.00");

    for (const TotalRow& row : dropRows(statistics, false, StatisticsLanguage::English)) {
        const std::string expected =
            row.count == 0 ? std::string()
                           : std::to_string(row.count) + "  last from " + row.lastSender;
        std::string found;
        for (const std::string& line : splitLines(dump.err)) {
            const std::vector<std::string> cells = tableCells(line);
            if (cells.size() == 3 && cells[0] == row.item) {
                found = cells[1] + "  " + cells[2];
            }
        }
        EXPECT_EQ(found, expected) << row.item;
    }
    EXPECT_EQ(statistics.dropped(DropReason::NoMagic), (DropTally{2, "10.0.0.10"}));
}

}  // namespace
}  // namespace qvlink::test
