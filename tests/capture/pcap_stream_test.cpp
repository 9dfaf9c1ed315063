// The capture helper's pcap stream as it arrives through a pipe, in pieces of any size.

#include "capture/pcap_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvlink::capture {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& out, std::uint32_t value, int bytes, bool bigEndian) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = bigEndian ? 8 * (bytes - 1 - i) : 8 * i;
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void put32(Bytes& out, std::uint32_t value, bool bigEndian) {
    put(out, value, 4, bigEndian);
}

/// A stream of Ethernet frames as a capture on this or another machine writes it.
Bytes stream(std::uint32_t magic, bool bigEndian, const std::vector<Bytes>& frames) {
    Bytes out;
    put32(out, magic, bigEndian);
    put(out, 2, 2, bigEndian);  // version 2.4
    put(out, 4, 2, bigEndian);
    for (const std::uint32_t field : {0u, 0u, 65535u, 1u}) {  // zone, accuracy, snapshot, link
        put32(out, field, bigEndian);
    }
    std::uint32_t second = 1700000000;
    for (const Bytes& frame : frames) {
        put32(out, second++, bigEndian);
        put32(out, 250000, bigEndian);
        put32(out, static_cast<std::uint32_t>(frame.size()), bigEndian);
        put32(out, static_cast<std::uint32_t>(frame.size()) + 4, bigEndian);
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

struct Seen {
    std::vector<Bytes> frames;
    std::vector<pcap_pkthdr> headers;
};

/// Feeds `bytes` in pieces of `piece` bytes.
bool feedInPieces(PcapStream& reader, const Bytes& bytes, std::size_t piece, Seen& seen) {
    const FrameHandler collect = [&seen](const pcap_pkthdr& header, const std::uint8_t* data) {
        seen.headers.push_back(header);
        seen.frames.emplace_back(data, data + header.caplen);
    };
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (!reader.feed(bytes.data() + at, std::min(piece, bytes.size() - at), collect)) {
            return false;
        }
    }
    return true;
}

const std::vector<Bytes> kFrames{{1, 2, 3}, {}, Bytes(1500, 0xAB)};

struct Layout {
    const char* name;
    std::uint32_t magic;
    bool bigEndian;
    long fractionAsMicroseconds;
};

TEST(PcapStream, EveryLayoutInPiecesOfAnySizeGivesTheSameFrames) {
    const Layout layouts[] = {
        {"microseconds, this machine's order", 0xA1B2C3D4, false, 250000},
        {"microseconds, other order", 0xA1B2C3D4, true, 250000},
        {"nanoseconds", 0xA1B23C4D, false, 250},
    };
    for (const Layout& layout : layouts) {
        const Bytes bytes = stream(layout.magic, layout.bigEndian, kFrames);
        for (const std::size_t piece :
             {std::size_t{1}, std::size_t{7}, std::size_t{16}, std::size_t{24}, bytes.size()}) {
            SCOPED_TRACE(std::string(layout.name) + ", pieces of " + std::to_string(piece));
            PcapStream reader;
            Seen seen;
            ASSERT_TRUE(feedInPieces(reader, bytes, piece, seen)) << reader.error();
            EXPECT_TRUE(reader.hasHeader());
            EXPECT_EQ(reader.linkType(), 1);
            EXPECT_EQ(reader.snapshotLength(), 65535u);
            EXPECT_EQ(reader.pendingBytes(), 0u);
            EXPECT_EQ(seen.frames, kFrames);
            ASSERT_EQ(seen.headers.size(), kFrames.size());
            EXPECT_EQ(seen.headers[2].ts.tv_sec, 1700000002);
            EXPECT_EQ(seen.headers[2].ts.tv_usec, layout.fractionAsMicroseconds);
            EXPECT_EQ(seen.headers[2].len, 1504u);
        }
    }
}

TEST(PcapStream, AStreamCutShortKeepsItsPartialRecord) {
    const Bytes bytes = stream(0xA1B2C3D4, false, kFrames);
    for (const std::size_t cut : {std::size_t{10}, std::size_t{24 + 5}, bytes.size() - 1}) {
        PcapStream reader;
        Seen seen;
        ASSERT_TRUE(feedInPieces(reader, Bytes(bytes.begin(), bytes.begin() + cut), 64, seen));
        EXPECT_GT(reader.pendingBytes(), 0u) << "cut after " << cut << " bytes";
        EXPECT_LT(seen.frames.size(), kFrames.size());
    }
}

TEST(PcapStream, UnreadableStreamsAreRefusedAndStayRefused) {
    Bytes notPcap(64, 0x41);
    Bytes oversized = stream(0xA1B2C3D4, false, {});
    put32(oversized, 1, false);
    put32(oversized, 0, false);
    put32(oversized, 0x7FFFFFFF, false);  // a record length no capture has
    put32(oversized, 0x7FFFFFFF, false);
    const struct {
        const char* name;
        Bytes bytes;
        const char* error;
    } cases[] = {
        {"not pcap", notPcap, "not a pcap stream"},
        {"record larger than any capture", oversized, "more than any capture"},
    };
    for (const auto& c : cases) {
        PcapStream reader;
        Seen seen;
        EXPECT_FALSE(feedInPieces(reader, c.bytes, c.bytes.size(), seen)) << c.name;
        EXPECT_NE(reader.error().find(c.error), std::string::npos) << reader.error();
        const Bytes good = stream(0xA1B2C3D4, false, kFrames);
        EXPECT_FALSE(feedInPieces(reader, good, good.size(), seen)) << c.name;
        EXPECT_TRUE(seen.frames.empty()) << c.name;
    }
}

}  // namespace
}  // namespace qvlink::capture
