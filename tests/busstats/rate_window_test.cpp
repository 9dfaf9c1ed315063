#include "busstats/rate_window.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace qvlink {
namespace {

TEST(RateWindow, CountsTheLastTenWholeSeconds) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> arrivals;
        std::int64_t nowMs;
        std::uint32_t count;
    };
    const std::vector<Case> cases{
        {"nothing yet", {}, 5000, 0},
        {"one per second for ten seconds",
         {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000},
         9999,
         10},
        {"the oldest second leaves at the next",
         {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000},
         10000,
         9},
        {"all gone ten seconds after the newest", {100, 200, 9100}, 19000, 0},
        {"a burst in one second", {5000, 5001, 5500, 5999}, 5999, 4},
        {"a burst seen from nine seconds on", {5000, 5001, 5500, 5999}, 14999, 4},
        {"a burst seen from ten seconds on", {5000, 5001, 5500, 5999}, 15000, 0},
        {"a long pause clears every bucket", {1000, 2000, 30000}, 30500, 1},
        {"a bucket reused after a wrap is cleared", {3000, 3100, 13000}, 13000, 1},
        {"a time before the window is not counted", {20000, 5000}, 20000, 1},
        {"a time inside the window counts", {20000, 15000}, 20000, 2},
        {"asked about an earlier moment", {3000, 10000, 11000}, 5000, 1},
    };
    for (const Case& c : cases) {
        RateWindow window;
        for (const std::int64_t ms : c.arrivals) {
            window.add(ms);
        }
        EXPECT_EQ(window.countAt(c.nowMs), c.count) << c.name;
        EXPECT_DOUBLE_EQ(window.perSecondAt(c.nowMs), c.count / 10.0) << c.name;
    }
}

}  // namespace
}  // namespace qvlink
