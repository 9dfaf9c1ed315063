#include "protocol/description.h"

#include <gtest/gtest.h>

#include "datagrams.h"

namespace qvlink {
namespace {

using test::Bytes;
using test::bytesOf;
using test::datagram;

Bytes classOnly(std::uint8_t type, std::uint8_t msgClass) {
    return bytesOf({0xFA, 0xCE, type, 0x00, 0x11, 0x22, msgClass, 0x02, 0x03, 0x05});
}

TEST(PacketDescription, NamesDeviceClassAndSubtype) {
    const struct {
        Bytes bytes;
        const char* text;
    } rows[] = {
        {datagram(1, 1, 2, {0x01, 0x00, 0x00, 0, 0, 0xC0, 0x3F}), "Тирон: ТИ цикл"},
        {datagram(1, 1, 3, {0x03, 0x00, 0x00, 0, 0, 0x20, 0xC0}),
         "Тирон: ТИ спорадика (3 = -2.50)"},
        {datagram(17, 1, 7, {0x03, 0x00, 0x00, 0, 0, 0x20, 0xC0}), "Ровен-8: ТИ"},
        {datagram(16, 2, 2, {0x0C, 0x00, 0x01, 0x0D, 0x00, 0x00}), "Ларта-К: ТС цикл"},
        {datagram(16, 2, 3, {0x0C, 0x00, 0x01, 0x0D, 0x00, 0x04}),
         "Ларта-К: ТС спорадика (12 = вкл)"},
        {datagram(18, 2, 3, {0xF4, 0x01, 0x0E, 1, 2, 3, 4, 5, 6, 7, 0x02, 0x00, 0x07}),
         "Ларта-К: ТС спорадика (500 = вкл)"},
        {datagram(1, 2, 0, {0x0C, 0x00, 0x01}), "Тирон: ТС"},
        {datagram(17, 3, 0, {0x01}), "Ровен-8: ТУ"},
        {datagram(18, 4, 0, {0x01}), "Ларта-К: Время"},
        {datagram(1, 5, 0, {0xF4, 0x01}), "Тирон: Запрос тишины 500 мс"},
        {datagram(16, 5, 0, {0xFF, 0xFF}), "Ларта-К: Запрос тишины 65535 мс"},
        {datagram(1, 6, 0, {0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, 0x00, 0xC0}), "Тирон:  Привет"},
        {datagram(1, 6, 0, {0x00, 0x41}), "Тирон:  "},
        {datagram(1, 0, 2, {0x01}), "Тирон: "},
        {datagram(1, 7, 2, {0x01}), "Тирон: "},
        {datagram(33, 1, 3, {0x03, 0x00, 0x00, 0, 0, 0x20, 0xC0}), "Ведра: "},
        {datagram(34, 6, 0, {0x41, 0x00}), "Ведра: "},
        {classOnly(8, 1), "Ларта-Т: Установка времени"},
        {classOnly(204, 1), "Ларта-С: Установка времени"},
        {classOnly(8, 68), "Ларта-Т: ТС"},
        {classOnly(204, 72), "Ларта-С: ТИ"},
        {classOnly(8, 2), "Ларта-Т: "},
        {classOnly(204, 6), "Ларта-С: "},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(describePacket(test::parsed(row.bytes), FormatSettings{}), row.text);
    }
}

TEST(PacketDescription, SporadicValueUsesTheDecimalSeparator) {
    const TPacket packet = test::parsed(datagram(1, 1, 3, {0x03, 0x00, 0x00, 0, 0, 0x20, 0xC0}));
    EXPECT_EQ(describePacket(packet, FormatSettings{",", ":"}), "Тирон: ТИ спорадика (3 = -2,50)");
}

TEST(PacketDescription, TextFillingTheLongestDatagramShowsAll231Characters) {
    const TPacket packet = test::parsed(datagram(1, 6, 0, Bytes(231, 0xDF)));  // 'Я'
    std::string expected = "Тирон:  ";
    for (int i = 0; i < 231; ++i) {
        expected += "Я";
    }
    EXPECT_EQ(describePacket(packet, FormatSettings{}), expected);
}

}  // namespace
}  // namespace qvlink
