#include "common/rendering.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace qvlink {
namespace {

const FormatSettings kPoint{".", ":"};
const FormatSettings kComma{",", "."};

TEST(TsRendering, StateAndCodeOfEveryFlagPattern) {
    const struct {
        std::uint8_t flags;
        bool doublePoint;
        const char* state;
        const char* code;
    } rows[] = {
        {0x00, false, "откл", "0"}, {0x01, false, "вкл", "1"},    {0x02, false, "откл", "0"},
        {0x03, false, "вкл", "1"},  {0x04, true, "обрыв", "00"},  {0x05, true, "откл", "01"},
        {0x06, true, "вкл", "10"},  {0x07, true, "авария", "11"},
    };
    for (const auto& row : rows) {
        // Bits 3 to 7 (time tag and the uninterpreted rest) never change the text.
        for (int high = 0; high < 0x100; high += 0x08) {
            const auto flags = static_cast<std::uint8_t>(row.flags | high);
            EXPECT_EQ(isDoublePoint(flags), row.doublePoint) << int{flags};
            EXPECT_EQ(tsStateText(flags), row.state) << int{flags};
            EXPECT_EQ(tsCodeText(flags), row.code) << int{flags};
        }
    }
}

TEST(TiValueText, RoundsHalvesAwayFromZeroOnTheExactValue) {
    const struct {
        float value;
        const char* point;
        const char* comma;
    } rows[] = {
        {0.0F, "0.00", "0,00"},
        {-0.0F, "0.00", "0,00"},  // a negative zero is not a negative value
        {12.5F, "12.50", "12,50"},
        {-2.5F, "-2.50", "-2,50"},
        {0.125F, "0.13", "0,13"},
        {-0.125F, "-0.13", "-0,13"},
        {123456.7F, "123456.70", "123456,70"},  // exactly 123456.703125
        {2.675F, "2.67", "2,67"},               // exactly 2.67499995...
        {1234.565F, "1234.56", "1234,56"},      // exactly 1234.56494...
        {0.995F, "1.00", "1,00"},               // exactly 0.99500000476...
        {99.995F, "100.00", "100,00"},          // carry through every digit
        {-99.995F, "-100.00", "-100,00"},
        {-0.001F, "-0.00", "-0,00"},  // fixed notation keeps the sign of a negative value
        {1e-45F, "0.00", "0,00"},
        {8388607.5F, "8388607.50", "8388607,50"},
        {1e10F, "10000000000.00", "10000000000,00"},
        // From 10^18 on, the digits after the 18th significant one round to zeros.
        {1e18F, "999999984306749440.00", "999999984306749440,00"},  // exactly 18 digits
        {1152921504606846976.0F, "1152921504606846980.00", "1152921504606846980,00"},  // 2^60
        {1e19F, "9999999980506447870.00", "9999999980506447870,00"},         // rounds down
        {9.999999e18F, "9999998880994820100.00", "9999998880994820100,00"},  // carries
        {std::numeric_limits<float>::max(), "340282346638528860000000000000000000000.00",
         "340282346638528860000000000000000000000,00"},
        {std::numeric_limits<float>::quiet_NaN(), "NAN", "NAN"},
        {-std::numeric_limits<float>::quiet_NaN(), "-NAN", "-NAN"},
        {std::numeric_limits<float>::infinity(), "INF", "INF"},
        {-std::numeric_limits<float>::infinity(), "-INF", "-INF"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(tiValueText(row.value, kPoint), row.point) << row.point;
        EXPECT_EQ(tiValueText(row.value, kComma), row.comma) << row.point;
    }
}

TEST(TimestampText, PrintsWholeBytesOrDashWithoutMonth) {
    const struct {
        TTimeTag tag;
        const char* text;
    } rows[] = {
        {{24, 6, 15, 12, 30, 0, 10000}, "12:30:10.000"},
        {{0, 1, 0, 0, 0, 0, 0}, "00:00:00.000"},
        {{0, 1, 0, 9, 5, 0, 7042}, "09:05:07.042"},
        {{0, 1, 0, 200, 133, 0, 65535}, "200:133:65.535"},
        {{0, 0xFF, 0, 1, 2, 0, 3}, "01:02:00.003"},
        {{24, 0, 15, 12, 30, 0, 10000}, "-"},
        {{255, 0, 255, 255, 255, 255, 65535}, "-"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(timestampText(row.tag), row.text);
    }
}

TEST(TimeOfDayText, UsesTheLocaleTimeSeparatorAndKeepsThePoint) {
    const LocalDateTime time{2024, 6, 15, 14, 3, 27, 45};
    EXPECT_EQ(timeOfDayText(time, kPoint), "14:03:27.045");
    EXPECT_EQ(timeOfDayText(time, kComma), "14.03.27.045");
    EXPECT_EQ(timeOfDayText({2024, 1, 1, 0, 0, 0, 0}, FormatSettings{",", "h"}), "00h00h00.000");
    EXPECT_EQ(timeOfDayText({2024, 12, 31, 23, 59, 59, 999}, kPoint), "23:59:59.999");
}

TEST(DurationText, SwitchesFormAtEachBoundary) {
    const struct {
        std::uint16_t seconds;
        const char* text;
    } rows[] = {
        {0, "0"},           {59, "59"},          {60, "01:00"},
        {61, "01:01"},      {3599, "59:59"},     {3600, "01:00:00"},
        {3661, "01:01:01"}, {36000, "10:00:00"}, {65535, "18:12:15"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(durationText(row.seconds), row.text) << row.seconds;
    }
}

TEST(LocaleSettings, TimeSeparatorFollowsTheHourOfTheTimeFormat) {
    const struct {
        const char* format;
        const char* separator;
    } rows[] = {
        {"%H:%M:%S", ":"},    {"%H.%M.%S", "."}, {"%T", ":"},     {"%r", ":"},
        {"%I:%M:%S %p", ":"}, {"%OH.%OM", "."},  {"%-k/%M", "/"}, {"%H%M%S", ":"},
        {"%Hh%M", ":"},       {"", ":"},         {"%", ":"},      {"%p %l,%M", ","},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(timeSeparatorOf(row.format), row.separator) << row.format;
    }
}

TEST(LocaleSettings, PlainAndMissingLocalesGivePointAndColon) {
    const char* saved = std::getenv("LC_ALL");
    const std::string previous = saved != nullptr ? saved : "";
    for (const char* name : {"C.UTF-8", "xx_NOWHERE.UTF-8"}) {
        setenv("LC_ALL", name, 1);
        const FormatSettings settings = FormatSettings::fromSystemLocale();
        EXPECT_EQ(settings.decimalSeparator, ".") << name;
        EXPECT_EQ(settings.timeSeparator, ":") << name;
    }
    if (saved != nullptr) {
        setenv("LC_ALL", previous.c_str(), 1);
    } else {
        unsetenv("LC_ALL");
    }
}

}  // namespace
}  // namespace qvlink
