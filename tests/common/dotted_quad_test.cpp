#include "common/dotted_quad.h"

#include <gtest/gtest.h>

namespace qvlink {
namespace {

TEST(ParseDottedQuad, AcceptsFourDecimalNumbersUpTo255Only) {
    const struct {
        const char* text;
        const char* address;  // nullptr: not a dotted quad
    } cases[] = {
        {"10.0.0.5", "10.0.0.5"},
        {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255"},
        {"010.000.000.005", "10.0.0.5"},
        {"256.0.0.1", nullptr},
        {"1.2.3", nullptr},
        {"1.2.3.4.5", nullptr},
        {"1..3.4", nullptr},
        {"1.2.3.", nullptr},
        {"1.2.3.x", nullptr},
        {"-1.2.3.4", nullptr},
        {"", nullptr},
        {"host.example", nullptr},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        const std::optional<std::uint32_t> parsed = parseDottedQuad(row.text);
        ASSERT_EQ(parsed.has_value(), row.address != nullptr);
        if (parsed) {
            EXPECT_EQ(dottedQuadText(*parsed), row.address);
        }
    }
}

}  // namespace
}  // namespace qvlink
