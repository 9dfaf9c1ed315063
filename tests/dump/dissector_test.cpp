// The Wireshark dissector, run by tshark, against qvlink-dump and the monitor's own
// parser, item walks and texts.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

#include "common/cp1251.h"
#include "dump/bus_corpus.h"
#include "dump/csv_reader.h"
#include "dump/dump_test_support.h"
#include "protocol/description.h"
#include "protocol/items.h"
#include "protocol/packets.h"

namespace qvlink::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

const FormatSettings kPointAndColon{".", ":"};

class Dissector : public ScratchFolder {
protected:
    void SetUp() override {
        if (std::system("command -v tshark > /dev/null 2>&1") != 0) {
            GTEST_SKIP() << "tshark is not installed (apt-get install tshark): dissector not "
                            "checked";
        }
        ScratchFolder::SetUp();
        // A home of its own, so that a copy of the dissector among the user's personal
        // plugins is not loaded a second time.
        std::filesystem::create_directories(path("home"));
    }

    /// tshark's output lines for `capture` with the dissector loaded.
    std::vector<std::string> tsharkLines(const std::string& capture,
                                         const std::vector<std::string>& options) {
        std::vector<std::string> arguments{
            "tshark", "-n", "-X", std::string("lua_script:") + QVLINK_DISSECTOR, "-r", capture};
        arguments.insert(arguments.end(), options.begin(), options.end());
        // tshark warns on standard error when run as root; only Lua complaints matter here.
        const ProcessResult result = runProcess(
            arguments,
            {"HOME=" + path("home"), "XDG_CONFIG_HOME=" + path("home"), "LC_ALL=C.UTF-8"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err.find("Lua"), std::string::npos) << result.err;
        EXPECT_EQ(result.out.find("Lua Error"), std::string::npos);
        return splitLines(result.out);
    }

    /// One row per frame with the values of `fields` (repeated values joined by ",").
    Rows tshark(const std::string& capture, const std::vector<std::string>& fields,
                std::vector<std::string> options = {}) {
        options.insert(options.end(), {"-T", "fields", "-E", "separator=/t", "-E", "occurrence=a",
                                       "-E", "aggregator=,"});
        for (const std::string& field : fields) {
            options.push_back("-e");
            options.push_back(field);
        }
        Rows rows;
        for (const std::string& line : tsharkLines(capture, options)) {
            rows.push_back(splitFields(line, '\t'));
        }
        return rows;
    }
};

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string join(const std::vector<std::string>& values) {
    std::string text;
    for (const std::string& value : values) {
        text += (text.empty() ? "" : ",") + value;
    }
    return text;
}

TEST_F(Dissector, InfoAndHeaderAgreeWithQvlinkDump) {
    const std::vector<CorpusDatagram> corpus = busCorpus();
    writeCorpus(path("bus.pcap"), DLT_EN10MB, corpus);
    ASSERT_EQ(runDump({"-r", path("bus.pcap"), "-q", "--csv", path("bus.csv")}).exitCode, 0);
    const std::optional<CsvRows> dump = parseCsv(readFile(path("bus.csv")));
    ASSERT_TRUE(dump.has_value());

    const Rows frames =
        tshark(path("bus.pcap"), {"qvlink.type", "qvlink.mac", "qvlink.seq", "qvlink.class",
                                  "qvlink.subtype", "qvlink.drop", "qvlink.command.mac",
                                  "qvlink.command.ip", "_ws.expert.message", "_ws.col.Info"});

    ASSERT_EQ(frames.size(), corpus.size());
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        SCOPED_TRACE("datagram " + std::to_string(i) + ": " + hexText(corpus[i].bytes));
        const std::vector<std::string>& frame = frames[i];
        ASSERT_EQ(frame.size(), 10u);
        const std::vector<std::string>& row = (*dump)[i + 1];
        const Bytes& bytes = corpus[i].bytes;
        const std::string& status = row[5];
        if (bytes.empty()) {
            // UDP hands an empty datagram to no dissector: only qvlink-dump shows it.
            EXPECT_EQ(frame[0], "");
            continue;
        }
        if (bytes.size() >= 6) {
            EXPECT_EQ(frame[1], lower(macFromHexDump(row[3])));
        }
        if (status == "accepted") {
            EXPECT_EQ(frame[9], row[4]);
            EXPECT_EQ(frame[5], "");
            EXPECT_EQ(frame[0], std::to_string(bytes[2]));
            if (findDeviceType(bytes[2])->sequenced) {
                EXPECT_EQ(frame[2], std::to_string(bytes[6]));
                EXPECT_EQ(frame[3], std::to_string(bytes[7]));
                EXPECT_EQ(frame[4], std::to_string(bytes[8]));
            } else {
                EXPECT_EQ(frame[2], "");
                EXPECT_EQ(frame[3], std::to_string(bytes[6]));
                EXPECT_EQ(frame[4], "");
            }
            EXPECT_EQ(frame[8], "");
        } else if (status == "unknown device type" && bytes[2] == 0) {
            EXPECT_EQ(frame[5], status);
            EXPECT_EQ(frame[6], "FA:CE:01:00:11:22");
            EXPECT_EQ(frame[7], "10.0.0.77");
            EXPECT_EQ(frame[9], "change-IP command: FA:CE:01:00:11:22 10.0.0.77");
        } else {
            EXPECT_EQ(frame[5], status);
            EXPECT_EQ(frame[9], "[dropped: " + status + "]");
            EXPECT_EQ(lower(frame[8]).find(status), 0u) << frame[8];
        }
    }
}

// The frames the monitor makes up around what it records dissect as the captured ones.
TEST_F(Dissector, AMonitorRecordingDissectsAsACaptureOfTheSameDatagrams) {
    const std::vector<CorpusDatagram> corpus = busCorpus();
    writeCorpus(path("captured.pcap"), DLT_EN10MB, corpus);
    recordCorpus(path("recorded.pcap"), corpus);
    const std::vector<std::string> fields{"frame.time_epoch", "ip.src",      "udp.srcport",
                                          "qvlink.type",      "qvlink.drop", "_ws.col.Info"};
    const Rows recorded = tshark(path("recorded.pcap"), fields);
    ASSERT_EQ(recorded.size(), corpus.size());
    EXPECT_EQ(recorded, tshark(path("captured.pcap"), fields));
}

/// The items of a datagram as the monitor's walk stores them, in the dissector's fields.
struct WalkedItems {
    std::vector<std::string> tsNumbers, tsFlags, tsStates, tiNumbers, tiFlags, tiTexts, tagMsecs;
};

WalkedItems monitorWalk(const Bytes& datagram) {
    TPacket packet;
    EXPECT_TRUE(parsePacket(datagram.data(), datagram.size(), packet));
    WalkedItems items;
    char flags[8];
    int pos = 0;
    do {
        if (packet.msgClass == kClassTs) {
            TTs item;
            pos = parseTsItem(packet.payload, pos, item);
            items.tsNumbers.push_back(std::to_string(item.number));
            std::snprintf(flags, sizeof flags, "0x%02x", item.flags);
            items.tsFlags.push_back(flags);
            items.tsStates.push_back(tsStateText(item.flags));
            if ((item.flags & kTimeTagFollows) != 0) {
                items.tagMsecs.push_back(std::to_string(item.timeTag.msec));
            }
        } else {
            TTi item;
            pos = parseTiItem(packet.payload, pos, item);
            items.tiNumbers.push_back(std::to_string(item.number));
            std::snprintf(flags, sizeof flags, "0x%02x", item.flags);
            items.tiFlags.push_back(flags);
            items.tiTexts.push_back(tiValueText(item.value, kPointAndColon));
            if ((item.flags & kTimeTagFollows) != 0) {
                items.tagMsecs.push_back(std::to_string(item.timeTag.msec));
            }
        }
    } while (pos != 0 && pos < static_cast<int>(kPayloadAreaSize));
    return items;
}

TEST_F(Dissector, ItemsFollowTheMonitorsWalk) {
    std::vector<Bytes> datagrams{
        {0xFA, 0xCE, 16, 0, 0, 1, 1, 2, 2, 1, 0, 1, 2, 0, 0, 3, 0, 1},
        {0xFA, 0xCE, 16, 0, 0, 1, 2, 2, 3, 0, 0, 1, 5, 0, 1},
        {0xFA, 0xCE, 1,    0,    0,    1,    3,    1,    2, 7, 0, 8, 0, 0,    0xC0,
         0x3F, 0x10, 0x27, 0x1E, 0x0C, 0x0F, 0x06, 0x18, 8, 0, 0, 0, 0, 0x20, 0xC0},
        {0xFA, 0xCE, 34, 0, 0, 1, 4, 2, 2, 0xF5, 0x01, 0x04, 0xFF, 0xFF, 0x02, 9, 0, 0x0B, 0x10},
        {0xFA, 0xCE, 17, 0, 0, 1, 5, 1, 3, 1, 0, 8, 0, 0, 0x80},
    };
    Bytes unterminated(240, 0x01);
    std::copy_n(Bytes{0xFA, 0xCE, 18, 0, 0, 2, 9, 2, 2}.begin(), 9, unterminated.begin());
    datagrams.push_back(unterminated);
    std::mt19937 random(20240615);
    const std::array<std::uint8_t, 6> sequencedTypes{1, 16, 17, 18, 33, 34};
    for (int n = 0; n < 400; ++n) {
        Bytes bytes{0xFA,
                    0xCE,
                    sequencedTypes[random() % 6],
                    0,
                    0,
                    3,
                    static_cast<std::uint8_t>(n),
                    static_cast<std::uint8_t>(1 + n % 2),
                    static_cast<std::uint8_t>(random() % 4)};
        const std::size_t length = 10 + random() % 231;
        // Mostly small bytes, so that number pairs of zero end some lists early.
        while (bytes.size() < length) {
            bytes.push_back(static_cast<std::uint8_t>(random() % 3 == 0 ? 0 : random() % 256));
        }
        datagrams.push_back(bytes);
    }
    CaptureFile file(path("items.pcap"), DLT_EN10MB);
    for (const Bytes& datagram : datagrams) {
        file.addDatagram(corpusStart(), datagram);
    }
    file.close();

    const Rows frames =
        tshark(path("items.pcap"),
               {"qvlink.ts.number", "qvlink.ts.flags", "qvlink.ts.state", "qvlink.ti.number",
                "qvlink.ti.flags", "qvlink.ti.text", "qvlink.timetag.msec"});

    ASSERT_EQ(frames.size(), datagrams.size());
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        SCOPED_TRACE("datagram " + std::to_string(i) + ": " + hexText(datagrams[i]));
        const WalkedItems expected = monitorWalk(datagrams[i]);
        EXPECT_EQ(frames[i],
                  (std::vector<std::string>{join(expected.tsNumbers), join(expected.tsFlags),
                                            join(expected.tsStates), join(expected.tiNumbers),
                                            join(expected.tiFlags), join(expected.tiTexts),
                                            join(expected.tagMsecs)}));
    }
}

Bytes sporadicTi(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    return {0xFA,
            0xCE,
            1,
            0,
            0,
            7,
            0,
            1,
            3,
            1,
            0,
            0,
            static_cast<std::uint8_t>(bits),
            static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16),
            static_cast<std::uint8_t>(bits >> 24)};
}

TEST_F(Dissector, TiValuesRoundAsTheMonitorRoundsThem) {
    std::vector<float> values{0.0F,
                              -0.0F,
                              1.5F,
                              -2.5F,
                              123456.7F,
                              0.005F,
                              -0.005F,
                              0.015F,
                              0.025F,
                              1.005F,
                              2.675F,
                              1.0E-30F,
                              -1.0E-30F,
                              0.0049999F,
                              99.995F,
                              999999.99F,
                              8388607.5F,
                              16777215.0F,
                              1.0E16F,
                              1.0E18F,
                              1.0E20F,
                              -1.0E25F,
                              3.4E38F,
                              FLT_MAX,
                              -FLT_MAX,
                              FLT_MIN,
                              std::numeric_limits<float>::denorm_min(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(),
                              -std::numeric_limits<float>::quiet_NaN(),
                              std::bit_cast<float>(0x7F800001U),
                              std::bit_cast<float>(0xFFC12345U)};
    // Halves: a float's exact value falls on a half-hundredth only at eighths.
    for (int eighths = -2000; eighths <= 2000; ++eighths) {
        values.push_back(static_cast<float>(eighths) / 8.0F);
    }
    std::mt19937 random(973);
    std::uniform_real_distribution<float> moderate(-1.0E6F, 1.0E6F);
    for (int n = 0; n < 4000; ++n) {
        values.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(random())));
        values.push_back(moderate(random));
    }
    CaptureFile file(path("values.pcap"), DLT_EN10MB);
    for (const float value : values) {
        file.addDatagram(corpusStart(), sporadicTi(value));
    }
    file.close();

    const Rows frames = tshark(path("values.pcap"), {"qvlink.ti.text", "_ws.col.Info"});

    ASSERT_EQ(frames.size(), values.size());
    int mismatches = 0;
    for (std::size_t i = 0; i < values.size() && mismatches < 10; ++i) {
        const Bytes datagram = sporadicTi(values[i]);
        TPacket packet;
        ASSERT_TRUE(parsePacket(datagram.data(), datagram.size(), packet));
        const std::vector<std::string> expected{tiValueText(values[i], kPointAndColon),
                                                describePacket(packet, kPointAndColon)};
        if (frames[i] != expected) {
            ++mismatches;
            ADD_FAILURE() << hexText(datagram) << ": " << frames[i][1] << " != " << expected[1];
        }
    }
}

TEST_F(Dissector, TextMessagesDecodeFromWindows1251) {
    std::string everyCharacter;
    for (int byte = 0x20; byte <= 0xFF; ++byte) {
        everyCharacter += static_cast<char>(byte);
    }
    const std::vector<std::string> texts{everyCharacter.substr(0, 112), everyCharacter.substr(112),
                                         encodeCp1251("Привет, мир"), ""};
    CaptureFile file(path("texts.pcap"), DLT_EN10MB);
    std::vector<Bytes> datagrams;
    for (const std::string& text : texts) {
        Bytes bytes(text.begin(), text.end());
        bytes.insert(bytes.begin(), {0xFA, 0xCE, 17, 0, 0, 9, 1, kClassText, 0});
        bytes.push_back(0);
        datagrams.push_back(bytes);
        file.addDatagram(corpusStart(), bytes);
    }
    file.close();

    const Rows frames = tshark(path("texts.pcap"), {"qvlink.text", "_ws.col.Info"});

    ASSERT_EQ(frames.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        TPacket packet;
        ASSERT_TRUE(parsePacket(datagrams[i].data(), datagrams[i].size(), packet));
        EXPECT_EQ(frames[i][0], decodeCp1251(texts[i]));
        EXPECT_EQ(frames[i][1], describePacket(packet, kPointAndColon));
    }
}

// Summary lines alone are printed without a protocol tree; a display filter needs the
// fields of the items all the same.
TEST_F(Dissector, DisplayFiltersSeeItemsAndDropReasons) {
    writeCorpus(path("bus.pcap"), DLT_EN10MB, busCorpus());

    const std::vector<std::string> point42 =
        tsharkLines(path("bus.pcap"), {"-Y", "qvlink.ts.number == 42"});
    const std::vector<std::string> badMagic =
        tsharkLines(path("bus.pcap"), {"-Y", "qvlink.drop == \"bad magic\""});

    ASSERT_EQ(point42.size(), 1u);
    EXPECT_TRUE(point42[0].ends_with("Ларта-К: ТС спорадика (42 = авария)")) << point42[0];
    ASSERT_EQ(badMagic.size(), 2u);
    EXPECT_TRUE(badMagic[1].ends_with("[dropped: bad magic]")) << badMagic[1];
}

TEST_F(Dissector, PortPreferenceMovesTheDissector) {
    UdpEndpoints moved;
    moved.sourcePort = 41973;
    moved.destinationPort = 1973;
    CaptureFile file(path("moved.pcap"), DLT_EN10MB);
    file.addDatagram(corpusStart(), busCorpus()[0].bytes, moved);
    file.close();

    EXPECT_EQ(tshark(path("moved.pcap"), {"qvlink.type"}), (Rows{{""}}));
    EXPECT_EQ(
        tshark(path("moved.pcap"), {"qvlink.type", "_ws.col.Info"}, {"-o", "qvlink.port:1973"}),
        (Rows{{"1", busCorpus()[0].shown}}));
}

}  // namespace
}  // namespace qvlink::test
