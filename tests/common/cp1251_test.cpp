#include "common/cp1251.h"

#include <gtest/gtest.h>

#include <string>

namespace qvlink {
namespace {

std::size_t codePointCount(const std::string& utf8) {
    std::size_t count = 0;
    for (const char c : utf8) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

TEST(Cp1251, RussianTextRoundTripsOneBytePerLetter) {
    const std::string text = "Ёж и ёлка: Тирон, Ларта-К №5";
    const std::string bytes = encodeCp1251(text);
    EXPECT_EQ(bytes,
              "\xA8\xE6 \xE8 \xB8\xEB\xEA\xE0: \xD2\xE8\xF0\xEE\xED, \xCB\xE0\xF0\xF2\xE0-\xCA \xB9"
              "5");
    EXPECT_EQ(decodeCp1251(bytes), text);
}

TEST(Cp1251, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    const struct {
        const char* utf8;
        const char* expected;
    } rows[] = {
        {"a\xF0\x9F\x98\x80z", "a?z"},       // emoji, four UTF-8 bytes, one '?'
        {"\xE6\x97\xA5\xE6\x9C\xAC", "??"},  // two CJK characters
        {"a\xFF"
         "b",
         "a?b"},        // a byte that starts no UTF-8 sequence
        {"\xD0", "?"},  // a sequence cut off at the end
        {"\xD0"
         "A",
         "?A"},  // a sequence broken by an ASCII byte
    };
    for (const auto& row : rows) {
        EXPECT_EQ(encodeCp1251(row.utf8), row.expected) << row.utf8;
    }
}

TEST(Cp1251, EveryByteDecodesToOneCharacterAndUnassigned98ToReplacement) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(codePointCount(decodeCp1251(all)), all.size());
    EXPECT_EQ(decodeCp1251("A\x98Z"), "A\xEF\xBF\xBDZ");
    EXPECT_EQ(decodeCp1251(std::string("\0", 1)), std::string("\0", 1));
}

}  // namespace
}  // namespace qvlink
