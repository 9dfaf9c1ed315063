#include "protocol/command.h"

#include <gtest/gtest.h>

#include <string>

#include "datagrams.h"
#include "protocol/description.h"

namespace qvlink {
namespace {

using test::Bytes;

constexpr std::string_view kMac = "FA:CE:10:0A:00:3C";

Bytes sent(const DatagramArea& area, std::size_t length) {
    return Bytes(area.begin(), area.begin() + static_cast<std::ptrdiff_t>(length));
}

TEST(CommandFraming, SetIpCommandGolden) {
    CommandFramer framer;
    DatagramArea area{};
    std::size_t length = 0;
    ASSERT_TRUE(framer.buildSetIpCommand(kMac, "10.0.0.5", area, length));
    ASSERT_EQ(length, 42U);
    Bytes expected = test::bytesOf({0xFA, 0xCE, 0, 0, 0, 0, 0, 6, 10});
    const std::string body = "FA:CE:10:0A:00:3C 10.0.0.5";
    expected.insert(expected.end(), body.begin(), body.end());
    expected.insert(expected.end(), 7, 0x00);  // terminator and the six trailer bytes
    EXPECT_EQ(sent(area, length), expected);
}

TEST(CommandFraming, SequenceCounterRollsOver) {
    CommandFramer framer;
    DatagramArea area{};
    std::size_t length = 0;
    const std::uint8_t body[] = {0x41};
    for (int command = 1; command <= 257; ++command) {
        ASSERT_TRUE(framer.buildPacket(4, 2, body, sizeof body, area, length));
        ASSERT_EQ(area[6], (command - 1) % 256) << "command " << command;
    }
    EXPECT_EQ(length, 16U);
}

TEST(CommandFraming, RefusesWhatDoesNotFitIn240Bytes) {
    CommandFramer framer;
    DatagramArea area{};
    area.fill(0x55);
    std::size_t length = 99;

    const Bytes body225(225, 'x');
    ASSERT_TRUE(framer.buildPacket(6, 10, body225.data(), body225.size(), area, length));
    EXPECT_EQ(length, 240U);
    EXPECT_EQ(area[239], 0);

    area.fill(0x55);
    const Bytes body226(226, 'x');
    EXPECT_FALSE(framer.buildPacket(6, 10, body226.data(), body226.size(), area, length));
    // 17 + 1 + 207 + 1 = 226 body bytes: one too many.
    EXPECT_FALSE(framer.buildSetIpCommand(kMac, std::string(207, '1'), area, length));
    EXPECT_EQ(area, [] {
        DatagramArea untouched;
        untouched.fill(0x55);
        return untouched;
    }());
    EXPECT_EQ(length, 240U);

    ASSERT_TRUE(framer.buildSetIpCommand(kMac, std::string(206, '1'), area, length));
    EXPECT_EQ(length, 240U);
    EXPECT_EQ(area[6], 1);  // refused commands use no sequence number
}

TEST(CommandFraming, TextsGoOutAsWindows1251OneBytePerCharacter) {
    CommandFramer framer;
    DatagramArea area{};
    std::size_t length = 0;
    // A Cyrillic letter has a Windows-1251 byte; an emoji does not and becomes one '?'.
    ASSERT_TRUE(framer.buildSetIpCommand(kMac, "хост\xF0\x9F\x98\x80", area, length));
    EXPECT_EQ(length, 15U + 17 + 1 + 5 + 1);
    const Bytes tail(area.begin() + 27, area.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_EQ(tail, test::bytesOf({0xF5, 0xEE, 0xF1, 0xF2, '?', 0, 0, 0, 0, 0, 0, 0}));
}

TEST(CommandFraming, ParserRefusesOwnCommandButReadsItsFraming) {
    CommandFramer framer;
    DatagramArea area{};
    std::size_t length = 0;
    ASSERT_TRUE(framer.buildSetIpCommand(kMac, "10.0.0.5", area, length));
    Bytes datagram = sent(area, length);
    TPacket packet;
    EXPECT_EQ(classifyDatagram(datagram.data(), datagram.size()), DatagramVerdict::UnknownType);
    EXPECT_FALSE(parsePacket(datagram.data(), datagram.size(), packet));

    // With a device type in place of the zero, the same bytes read as a text message.
    datagram[2] = 1;
    packet = test::parsed(datagram);
    EXPECT_EQ(packet.seq, 0);
    EXPECT_EQ(packet.msgClass, kClassText);
    EXPECT_EQ(packet.subtype, kSubtypeSetIp);
    EXPECT_EQ(describePacket(packet, FormatSettings{}), "Тирон:  FA:CE:10:0A:00:3C 10.0.0.5");
}

}  // namespace
}  // namespace qvlink
