#include "busstats/interval_tracker.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvlink {
namespace {

IntervalTracker learned(const std::vector<double>& gaps) {
    IntervalTracker tracker;
    for (const double gap : gaps) {
        tracker.addGap(gap);
    }
    return tracker;
}

TEST(IntervalTracker, MeanAndSpreadOfTheFirstGapsAreExact) {
    const IntervalTracker tracker = learned({1000, 3000, 1000, 3000});
    EXPECT_EQ(tracker.gapCount(), 4);
    EXPECT_DOUBLE_EQ(tracker.meanMs(), 2000);
    EXPECT_DOUBLE_EQ(tracker.spreadMs(), 1000);
}

TEST(IntervalTracker, LateThresholdTakesTheStrictestOfItsThreeRules) {
    struct Case {
        const char* name;
        std::vector<double> gaps;
        double lateAfterMs;
    };
    const std::vector<Case> cases{
        {"four gaps are too few to judge", {1000, 1000, 1000, 1000}, 0},
        {"a steady second: three intervals", {1000, 1000, 1000, 1000, 1000}, 3000},
        {"a steady ten seconds: three intervals", {10000, 10000, 10000, 10000, 10000}, 30000},
        {"a fast device: two seconds beyond its interval", {100, 100, 100, 100, 100}, 2100},
        {"a steady half second: two seconds beyond its interval", {500, 500, 500, 500, 500}, 2500},
        // Mean 2 s, spread 2 s: 4 spreads beyond the mean outweigh three intervals.
        {"an irregular device: four spreads beyond its mean",
         {0, 4000, 0, 4000, 0, 4000, 0, 4000},
         10000},
    };
    for (const Case& c : cases) {
        const IntervalTracker tracker = learned(c.gaps);
        EXPECT_NEAR(tracker.lateAfterMs(), c.lateAfterMs, 1e-6) << c.name;
        if (c.lateAfterMs > 0) {
            EXPECT_FALSE(tracker.isLate(c.lateAfterMs - 1e-3)) << c.name;
            EXPECT_TRUE(tracker.isLate(c.lateAfterMs + 1)) << c.name;
        } else {
            EXPECT_FALSE(tracker.isLate(1e9)) << c.name;
        }
    }
}

TEST(IntervalTracker, OneOutageIsLearnedOnlyUpToTheThreshold) {
    IntervalTracker tracker = learned({1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000});
    tracker.addGap(600000);  // ten minutes without a word
    // Learned as a 3 s gap, the tenth of ten: the mean moves by a fifth of a second only.
    EXPECT_DOUBLE_EQ(tracker.meanMs(), 1200);
    EXPECT_LT(tracker.lateAfterMs(), 5000);
}

TEST(IntervalTracker, ALastingNewRhythmIsLearnedGradually) {
    IntervalTracker tracker = learned(std::vector<double>(IntervalTracker::kMemory, 1000));
    int lateGaps = 0;
    for (int i = 0; i < 60; ++i) {
        lateGaps += tracker.isLate(20000) ? 1 : 0;
        tracker.addGap(20000);
    }
    // The first gaps of the slower rhythm are late, as the user should learn; after that
    // the device's new rhythm is its normal one.
    EXPECT_GE(lateGaps, 5);
    EXPECT_FALSE(tracker.isLate(20000));
    EXPECT_GT(tracker.meanMs(), 15000);
}

}  // namespace
}  // namespace qvlink
