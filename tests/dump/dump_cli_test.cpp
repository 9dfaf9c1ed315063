// qvlink-dump run as a program on captures the tests write themselves.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <map>

#include "dump/bus_corpus.h"
#include "dump/csv_reader.h"
#include "dump/dump_test_support.h"
#include "support/packet_builder.h"

namespace qvlink::test {
namespace {

/// A text message with a tab, a backslash, quotes, a comma and a line break.
CorpusDatagram awkwardText() {
    Bytes bytes = sequencedDatagram(1, 0x001122, 15, 6, 0, {});
    const std::string text = "a\tb\\c \"q\", d\r\ne";
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
    return {"10.0.0.5", bytes, "Тирон:  a\\x09b\\\\c \"q\", d\\x0D\\x0Ae"};
}

std::vector<CorpusDatagram> fullCorpus() {
    std::vector<CorpusDatagram> corpus = busCorpus();
    corpus.push_back(awkwardText());
    return corpus;
}

std::string expectedLine(const CorpusDatagram& datagram, std::size_t index) {
    return corpusTimeText(index) + "\t" + datagram.ip + "\t" + hexText(datagram.bytes) + "\t" +
           datagram.shown;
}

using DumpCli = ScratchFolder;

TEST_F(DumpCli, PrintsTheMonitorsTextsForEveryDatagram) {
    const std::vector<CorpusDatagram> corpus = fullCorpus();
    writeCorpus(path("bus.pcap"), DLT_EN10MB, corpus);

    const ProcessResult result = runDump({"-r", path("bus.pcap")});

    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), corpus.size());
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        EXPECT_EQ(lines[i], expectedLine(corpus[i], i)) << "datagram " << i;
    }
}

TEST_F(DumpCli, ReadsEveryLinkTypeAlike) {
    const std::vector<CorpusDatagram> all = busCorpus();
    const std::vector<CorpusDatagram> corpus(all.begin(), all.begin() + 4);
    writeCorpus(path("ether.pcap"), DLT_EN10MB, corpus);
    const std::string ethernet = runDump({"-r", path("ether.pcap")}).out;
    ASSERT_EQ(splitLines(ethernet).size(), corpus.size());

    for (const int dlt : {DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_NULL, DLT_LOOP, DLT_RAW}) {
        const std::string file = path("link" + std::to_string(dlt) + ".pcap");
        writeCorpus(file, dlt, corpus);
        const ProcessResult result = runDump({"-r", file});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, ethernet) << pcap_datalink_val_to_name(dlt);
    }
}

TEST_F(DumpCli, ShowsTheCaptureTimeInTheLocalZone) {
    writeCorpus(path("bus.pcap"), DLT_EN10MB, {busCorpus()[0]});

    const ProcessResult result = runDump({"-r", path("bus.pcap")}, {"LC_ALL=C", "TZ=MSK-3"});

    EXPECT_EQ(result.out.substr(0, 13), "15:30:00.000\t");
}

TEST_F(DumpCli, KeepsToBusDatagramsAndShowsWhatTheCaptureCannotShowWhole) {
    const Bytes datagram = busCorpus()[0].bytes;
    const std::string hex = hexText(datagram);
    UdpEndpoints bus;
    UdpEndpoints other = bus;
    other.destinationPort = 53;
    other.sourcePort = 40000;
    UdpEndpoints fromBusPort = bus;
    fromBusPort.destinationPort = 40000;

    Bytes overlong(400, 0x55);
    overlong[0] = 0xFA;
    overlong[1] = 0xCE;
    const Bytes udp = udpSegment(bus, overlong);
    const Bytes firstPiece(udp.begin(), udp.begin() + 208);
    const Bytes secondPiece(udp.begin() + 208, udp.end());

    CaptureFile file(path("mixed.pcap"), DLT_EN10MB);
    const timeval t = corpusStart();
    file.addFrame(t, linkFrame(DLT_EN10MB, ipv4Packet(bus, 6, udpSegment(bus, datagram))));
    file.addDatagram(t, datagram, other);
    file.addDatagram(t, datagram, fromBusPort);
    Bytes padded = linkFrame(DLT_EN10MB, ipv4Packet(bus, 17, udpSegment(bus, datagram)));
    padded.resize(60, 0xEE);  // Ethernet pads short frames; the padding is not the datagram's
    file.addFrame(t, padded);
    Bytes tagged = linkFrame(DLT_EN10MB, ipv4Packet(bus, 17, udpSegment(bus, datagram)));
    tagged.insert(tagged.begin() + 12, {0x81, 0x00, 0x00, 0x05});
    file.addFrame(t, tagged);
    file.addFrame(t, linkFrame(DLT_EN10MB, ipv4Packet(bus, 17, firstPiece, 77, 0x2000)));
    file.addFrame(t, linkFrame(DLT_EN10MB, ipv4Packet(bus, 17, secondPiece, 77, 208 / 8)));
    file.addFrame(t, linkFrame(DLT_EN10MB, ipv4Packet(bus, 17, secondPiece, 78, 208 / 8)));
    const Bytes whole = linkFrame(DLT_EN10MB, ipv4Packet(bus, 17, udpSegment(bus, datagram)));
    file.addFrame(t, Bytes(whole.begin(), whole.end() - 3), whole.size());
    file.close();

    const ProcessResult result = runDump({"-r", path("mixed.pcap")});

    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string prefix = "12:30:00.000\t10.0.0.5\t";
    const std::string shown = "\tТирон: ТИ цикл";
    const std::vector<std::string> expected{
        prefix + hex + shown,
        prefix + hex + shown,
        prefix + hex + shown,
        prefix + hexText(Bytes(firstPiece.begin() + 8, firstPiece.end())) + "\t[dropped: too long]",
        prefix + hexText(secondPiece) + "\t[fragment]",
        prefix + hexText(Bytes(datagram.begin(), datagram.end() - 3)) + "\t[truncated]",
    };
    EXPECT_EQ(splitLines(result.out), expected);
}

TEST_F(DumpCli, CsvHoldsTheSameTextsAndParsesBack) {
    const std::vector<CorpusDatagram> corpus = fullCorpus();
    writeCorpus(path("bus.pcap"), DLT_EN10MB, corpus);

    const ProcessResult result = runDump({"-r", path("bus.pcap"), "-q", "--csv", path("bus.csv")});

    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
    const std::optional<CsvRows> rows = parseCsv(readFile(path("bus.csv")));
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->size(), corpus.size() + 1);
    EXPECT_EQ((*rows)[0],
              (std::vector<std::string>{"date", "time", "ip", "hex", "description", "status"}));
    const std::string raw = "Тирон:  a\tb\\c \"q\", d\r\ne";
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        const std::vector<std::string>& row = (*rows)[i + 1];
        ASSERT_EQ(row.size(), 6u) << i;
        const bool dropped = corpus[i].shown.starts_with("[dropped: ");
        const std::string status =
            dropped ? corpus[i].shown.substr(10, corpus[i].shown.size() - 11) : "accepted";
        const std::string description =
            dropped ? "" : (i + 1 == corpus.size() ? raw : corpus[i].shown);
        EXPECT_EQ(row, (std::vector<std::string>{"2024-06-15", corpusTimeText(i), corpus[i].ip,
                                                 hexText(corpus[i].bytes), description, status}))
            << "datagram " << i;
    }
}

// A recording the monitor made of the same datagrams reads exactly as a capture of them.
TEST_F(DumpCli, ReadsAMonitorRecordingAsACaptureOfTheSameDatagrams) {
    const std::vector<CorpusDatagram> corpus = fullCorpus();
    writeCorpus(path("captured.pcap"), DLT_EN10MB, corpus);
    recordCorpus(path("recorded.pcap"), corpus);
    for (const char* name : {"captured", "recorded"}) {
        const ProcessResult result = runDump({"-r", path(std::string(name) + ".pcap"), "-q",
                                              "--csv", path(std::string(name) + ".csv")});
        ASSERT_EQ(result.exitCode, 0) << name << ": " << result.err;
    }
    const std::optional<CsvRows> captured = parseCsv(readFile(path("captured.csv")));
    const std::optional<CsvRows> recorded = parseCsv(readFile(path("recorded.csv")));
    ASSERT_TRUE(captured && recorded);
    ASSERT_EQ(recorded->size(), corpus.size() + 1);
    EXPECT_EQ(*recorded, *captured);
}

/// Records of a pcap file, by capture time in milliseconds.
std::vector<long> pcapRecordTimes(const std::string& file) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_open_offline(file.c_str(), error);
    std::vector<long> times;
    if (handle == nullptr) {
        ADD_FAILURE() << error;
        return times;
    }
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(handle, &header, &data) == 1) {
        times.push_back((header->ts.tv_sec - corpusStart().tv_sec) * 1000 +
                        header->ts.tv_usec / 1000);
    }
    pcap_close(handle);
    return times;
}

TEST_F(DumpCli, RotationKeepsTheRingOfFilesBounded) {
    constexpr std::size_t kDatagrams = 600;
    const CorpusDatagram sample = busCorpus()[1];
    writeCorpus(path("bus.pcap"), DLT_EN10MB, std::vector<CorpusDatagram>(kDatagrams, sample));

    const ProcessResult result = runDump({"-r", path("bus.pcap"), "-q", "--csv", path("out.csv"),
                                          "-w", path("out.pcap"), "--rotate-size=0.01", "-W", "3"});

    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> csvTimes;
    std::vector<long> pcapTimes;
    for (const std::string suffix : {".2", ".1", ""}) {
        const std::string csv = path("out.csv" + suffix);
        const std::string pcap = path("out.pcap" + suffix);
        ASSERT_TRUE(std::filesystem::exists(csv)) << csv;
        ASSERT_TRUE(std::filesystem::exists(pcap)) << pcap;
        EXPECT_LE(std::filesystem::file_size(csv), 10000u);
        EXPECT_LE(std::filesystem::file_size(pcap), 10000u);
        const std::optional<CsvRows> rows = parseCsv(readFile(csv));
        ASSERT_TRUE(rows.has_value()) << csv;
        ASSERT_GE(rows->size(), 2u) << csv;
        EXPECT_EQ((*rows)[0][0], "date");
        for (std::size_t i = 1; i < rows->size(); ++i) {
            csvTimes.push_back((*rows)[i][1]);
        }
        const std::vector<long> times = pcapRecordTimes(pcap);
        pcapTimes.insert(pcapTimes.end(), times.begin(), times.end());
    }
    EXPECT_FALSE(std::filesystem::exists(path("out.csv.3")));
    EXPECT_FALSE(std::filesystem::exists(path("out.pcap.3")));

    // Oldest file first, the three hold an unbroken run that ends with the last datagram.
    ASSERT_LT(csvTimes.size(), kDatagrams);
    const std::size_t firstCsv = kDatagrams - csvTimes.size();
    for (std::size_t i = 0; i < csvTimes.size(); ++i) {
        ASSERT_EQ(csvTimes[i], corpusTimeText(firstCsv + i)) << i;
    }
    ASSERT_LT(pcapTimes.size(), kDatagrams);
    const std::size_t firstPcap = kDatagrams - pcapTimes.size();
    for (std::size_t i = 0; i < pcapTimes.size(); ++i) {
        ASSERT_EQ(pcapTimes[i], static_cast<long>(firstPcap + i) * 250) << i;
    }
}

/// The count of a reason in the "not decoded" part of the statistics, -1 when missing.
int notDecodedCount(const std::string& report, const std::string& reason) {
    for (const std::string& line : splitLines(report)) {
        if (line.starts_with("  " + reason + " ")) {
            return std::stoi(line.substr(reason.size() + 2));
        }
    }
    return -1;
}

TEST_F(DumpCli, StatisticsCountAsTheMonitorCounts) {
    struct Script {
        std::vector<std::uint8_t> sequence;
        int missed;
        int restarts;
    };
    const std::vector<Script> scripts{
        {{7, 8, 9}, 0, 0},          {{7, 9}, 1, 0},   {{7, 200, 7}, 1, 0},
        {{200, 1}, 0, 1},           {{200, 0}, 0, 1}, {{254, 255, 0, 1}, 0, 0},
        {{254, 0}, 1, 0},           {{255, 1}, 1, 0}, {{255, 2}, 0, 0},
        {{5, 5, 0, 0, 1, 1}, 0, 1},
    };
    std::vector<CorpusDatagram> corpus;
    for (std::size_t s = 0; s < scripts.size(); ++s) {
        for (const std::uint8_t seq : scripts[s].sequence) {
            corpus.push_back({"10.0.1.1",
                              sequencedDatagram(1, static_cast<std::uint32_t>(s), seq, 2, 2, {0}),
                              ""});
        }
    }
    // A class-only device: byte 6 is its class, never a sequence number.
    for (const std::uint8_t msgClass : {1, 68, 1, 72}) {
        corpus.push_back({"10.0.1.2", classOnlyDatagram(8, 0x0000FF, msgClass), ""});
    }
    corpus.push_back({"10.0.1.3", {0xFA, 0xCF, 1}, ""});
    corpus.push_back({"10.0.1.3", {0xFA, 0xCE, 1, 0, 0, 1}, ""});
    corpus.push_back({"10.0.1.3", {0xFA, 0xCE, 1, 0, 0, 1, 1, 1}, ""});
    writeCorpus(path("bus.pcap"), DLT_EN10MB, corpus);

    const ProcessResult result = runDump({"-r", path("bus.pcap"), "-q", "--stats"});

    ASSERT_EQ(result.exitCode, 0) << result.err;
    auto rows = statisticsDevices(result.err);
    ASSERT_EQ(rows.size(), scripts.size() + 1) << result.err;
    for (std::size_t s = 0; s < scripts.size(); ++s) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "FA:CE:01:00:00:%02X", static_cast<unsigned>(s));
        ASSERT_TRUE(rows.contains(mac)) << mac;
        EXPECT_EQ(rows[mac]["datagrams"], std::to_string(scripts[s].sequence.size())) << mac;
        EXPECT_EQ(rows[mac]["missed"], std::to_string(scripts[s].missed)) << mac;
        EXPECT_EQ(rows[mac]["restarts"], std::to_string(scripts[s].restarts)) << mac;
    }
    EXPECT_EQ(rows["FA:CE:08:00:00:FF"]["datagrams"], "4");
    EXPECT_EQ(rows["FA:CE:08:00:00:FF"]["missed"], "0");
    EXPECT_EQ(rows["FA:CE:08:00:00:FF"]["restarts"], "0");
    EXPECT_NE(result.err.find("3 not decoded"), std::string::npos) << result.err;
    EXPECT_EQ(notDecodedCount(result.err, "bad magic"), 1);
    EXPECT_EQ(notDecodedCount(result.err, "too short"), 2);
}

TEST_F(DumpCli, FailuresNameTheCauseAndTheExitStatus) {
    writeCorpus(path("bus.pcap"), DLT_EN10MB, {busCorpus()[0]});
    std::ofstream(path("notes.txt")) << "not a capture\n";
    {
        CaptureFile wifi(path("wifi.pcap"), DLT_IEEE802_11);
        wifi.addFrame(corpusStart(), Bytes(24, 0));
    }
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string message;
    };
    const std::vector<Case> cases{
        {{"-r", path("missing.pcap")}, 2, "cannot read capture file"},
        {{"-r", path("notes.txt")}, 2, "cannot read capture file"},
        {{"-r", path("wifi.pcap")}, 2, "unsupported link type IEEE802_11"},
        {{"-r", path("bus.pcap"), "--csv", path("no/such/dir.csv")}, 3, "cannot write"},
        {{"-r", path("bus.pcap"), "-w", path("no/such/dir.pcap")}, 3, "cannot write"},
        {{"--frobnicate"}, 1, "unknown argument \"--frobnicate\""},
        {{"-r", path("bus.pcap"), "-i", "lo"}, 1, "-i and -r exclude each other"},
        {{"-r", path("bus.pcap"), "--csv", path("x.csv"), "-W", "3"}, 1, "-W needs"},
        {{"-r", path("bus.pcap"), "--csv", path("x.csv"), "-C", "0"}, 1, "-C needs"},
        {{"-r", path("bus.pcap"), "-C", "1"}, 1, "-C and -W apply to"},
        {{"-p", "70000"}, 1, "-p needs a whole number from 1 to 65535"},
        {{"-r"}, 1, "-r needs a value"},
        {{"--metrics", "localhost:9973"}, 1, "--metrics needs ADDRESS:PORT"},
        {{"--metrics", "127.0.0.1"}, 1, "--metrics needs ADDRESS:PORT"},
        {{"-r", path("bus.pcap"), "-q", "--metrics", "192.0.2.1:0"},
         1,
         "cannot serve metrics on 192.0.2.1:0"},
        {{"-r", path("bus.pcap"), "-q", "--metrics", "127.0.0.1:0"},
         0,
         "metrics at http://127.0.0.1:"},
        {{"--help"}, 0, "Exit status:"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = runDump(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.message;
        EXPECT_NE((result.err + result.out).find(c.message), std::string::npos)
            << c.message << " in: " << result.err;
    }
}

}  // namespace
}  // namespace qvlink::test
