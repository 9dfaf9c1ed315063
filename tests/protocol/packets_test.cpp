#include "protocol/packets.h"

#include <gtest/gtest.h>

#include "datagrams.h"

namespace qvlink {
namespace {

using test::Bytes;
using test::bytesOf;

TEST(DatagramChecks, AppliesTheReceptionChecksInOrder) {
    Bytes tooLongUnknown(241, 0);
    tooLongUnknown[0] = 0xFA;
    tooLongUnknown[1] = 0xCE;
    Bytes longest(240, 0);
    longest[0] = 0xFA;
    longest[1] = 0xCE;
    longest[2] = 16;
    const struct {
        const char* name;
        Bytes bytes;
        DatagramVerdict verdict;
    } rows[] = {
        {"241 bytes", tooLongUnknown, DatagramVerdict::TooLong},
        {"240 bytes", longest, DatagramVerdict::Accepted},
        {"empty", {}, DatagramVerdict::NoMagic},
        {"one magic byte", bytesOf({0xFA}), DatagramVerdict::NoMagic},
        {"wrong magic", bytesOf({0xFA, 0xCF, 1, 0, 0, 0, 0, 0, 0, 0}), DatagramVerdict::NoMagic},
        {"magic only", bytesOf({0xFA, 0xCE}), DatagramVerdict::TooShort},
        {"9 bytes", bytesOf({0xFA, 0xCE, 1, 0, 0, 1, 5, 2, 3}), DatagramVerdict::TooShort},
        {"10 bytes", bytesOf({0xFA, 0xCE, 1, 0, 0, 1, 5, 2, 3, 0}), DatagramVerdict::Accepted},
        {"type 0", bytesOf({0xFA, 0xCE, 0, 0, 0, 1, 5, 2, 3, 0}), DatagramVerdict::UnknownType},
        {"short unknown", bytesOf({0xFA, 0xCE, 0, 0}), DatagramVerdict::TooShort},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(classifyDatagram(row.bytes.data(), row.bytes.size()), row.verdict) << row.name;
    }
    EXPECT_STREQ(verdictText(DatagramVerdict::UnknownType), "unknown device type");
}

TEST(ParsePacket, DecodesSequencedHeaderPayloadDumpAndMac) {
    const Bytes bytes = bytesOf({0xFA, 0xCE, 0x01, 0x00, 0x11, 0x22, 0x05, 0x02, 0x03, 0x7F});
    TPacket packet;
    ASSERT_TRUE(parsePacket(bytes.data(), bytes.size(), packet));
    EXPECT_EQ(packet.deviceType, 1);
    EXPECT_TRUE(packet.sequenced);
    EXPECT_EQ(packet.seq, 5);
    EXPECT_EQ(packet.msgClass, 2);
    EXPECT_EQ(packet.subtype, 3);
    PayloadArea expected{};
    expected[0] = 0x7F;
    EXPECT_EQ(packet.payload, expected);
    EXPECT_EQ(packet.hexDump, "FA CE 01 00 11 22 05 02 03 7F ");
    EXPECT_EQ(packet.macAddr, "FA:CE:01:00:11:22");
}

TEST(ParsePacket, NineBytesAreRefusedAndLeaveThePacketUntouched) {
    const Bytes bytes = bytesOf({0xFA, 0xCE, 0x01, 0x00, 0x00, 0x01, 0x05, 0x02, 0x03});
    TPacket packet;
    packet.hexDump = "previous";
    packet.seq = 9;
    EXPECT_FALSE(parsePacket(bytes.data(), bytes.size(), packet));
    EXPECT_EQ(packet.hexDump, "previous");
    EXPECT_EQ(packet.seq, 9);
}

TEST(ParsePacket, LongestDatagramFillsPayloadUpTo230) {
    Bytes bytes = test::datagram(16, 2, 2, Bytes(231, 0xAB));
    ASSERT_EQ(bytes.size(), 240U);
    bytes[3] = 0x0A;
    bytes[5] = 0x3C;
    const TPacket packet = test::parsed(bytes);
    EXPECT_EQ(packet.payload[230], 0xAB);
    EXPECT_EQ(packet.payload[231], 0);
    EXPECT_EQ(packet.payload[233], 0);
    EXPECT_EQ(packet.hexDump.size(), 720U);
    EXPECT_EQ(packet.hexDump.substr(0, 21), "FA CE 10 0A 11 3C 05 ");
    EXPECT_EQ(packet.hexDump.substr(714), "AB AB ");
    EXPECT_EQ(packet.macAddr, "FA:CE:10:0A:11:3C");
}

TEST(ParsePacket, ClassOnlyTypesTakeClassFromByteSixAndNoPayload) {
    for (const std::uint8_t type : {8, 204}) {
        const TPacket packet = test::parsed(test::datagram(type, 0x77, 0x66, {1, 2, 3}, 68));
        EXPECT_FALSE(packet.sequenced);
        EXPECT_EQ(packet.deviceType, type);
        EXPECT_EQ(packet.msgClass, 68);
        EXPECT_EQ(packet.seq, 0);
        EXPECT_EQ(packet.subtype, 0);
        EXPECT_EQ(packet.payload, PayloadArea{});
    }
}

TEST(ParsePacket, RefusesTypesOutsideTheTable) {
    for (const std::uint8_t type : {0, 2, 9, 15, 19, 32, 35, 203, 205, 255}) {
        const Bytes bytes = test::datagram(type, 2, 2, {5, 0, 1});
        TPacket packet;
        EXPECT_FALSE(parsePacket(bytes.data(), bytes.size(), packet)) << int{type};
    }
}

TEST(ParsePacket, ReusedPacketForgetsTheLongerPreviousDatagram) {
    TPacket packet;
    const Bytes first = test::datagram(1, 2, 2, Bytes(100, 0xFF));
    const Bytes second = bytesOf({0xFA, 0xCE, 0x08, 0x0A, 0x0B, 0x0C, 0x48, 0xEE, 0xEE, 0xEE});
    ASSERT_TRUE(parsePacket(first.data(), first.size(), packet));
    ASSERT_TRUE(parsePacket(second.data(), second.size(), packet));
    EXPECT_EQ(packet.hexDump, "FA CE 08 0A 0B 0C 48 EE EE EE ");
    EXPECT_EQ(packet.macAddr, "FA:CE:08:0A:0B:0C");
    EXPECT_EQ(packet.msgClass, 72);
    EXPECT_FALSE(packet.sequenced);
    EXPECT_EQ(packet.payload, PayloadArea{});
}

TEST(HexDump, UpperCaseWithLeadingZerosAndTrailingBlank) {
    const Bytes bytes = bytesOf({0x00, 0x0A, 0xAB, 0xF0, 0x09});
    std::string dump = "X ";
    appendHexDump(bytes.data(), bytes.size(), dump);
    EXPECT_EQ(dump, "X 00 0A AB F0 09 ");
    EXPECT_EQ(macFromHexDump("FA CE 0A 0B 0C 0D 01 02 "), "FA:CE:0A:0B:0C:0D");
    EXPECT_EQ(macFromHexDump("FA CE 0A "), "FA:CE:0A:");
    EXPECT_EQ(macFromHexDump(""), "");
}

}  // namespace
}  // namespace qvlink
