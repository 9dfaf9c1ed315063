#include "history/pending_records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace qvlink {
namespace {

constexpr std::int64_t kSecond = 1'000'000;
constexpr std::int64_t kBase = 1'700'000'000 * kSecond;

struct Value {
    int point;
    std::int64_t rxUs;
    float value;
};

struct FoldCase {
    const char* name;
    std::vector<Value> values;
    std::vector<TiSecond> rows;  // mac not compared
};

class TiFolding : public ::testing::TestWithParam<FoldCase> {};

TEST_P(TiFolding, OneRowPerPointAndSecondWithExactAggregates) {
    PendingRecords pending(0, 16);
    for (const Value& value : GetParam().values) {
        pending.addTiValue(value.point, value.rxUs, "FA:CE:00:00:00:01", value.value);
    }
    const RecordBatch batch = pending.take();
    ASSERT_EQ(batch.tiSeconds.size(), GetParam().rows.size());
    for (std::size_t i = 0; i < batch.tiSeconds.size(); ++i) {
        SCOPED_TRACE(i);
        const TiSecond& row = batch.tiSeconds[i];
        const TiSecond& expected = GetParam().rows[i];
        EXPECT_EQ(row.point, expected.point);
        EXPECT_EQ(row.second, expected.second);
        EXPECT_EQ(row.last, expected.last);
        EXPECT_EQ(row.min, expected.min);
        EXPECT_EQ(row.max, expected.max);
        EXPECT_EQ(row.count, expected.count);
    }
    EXPECT_EQ(pending.foldedTiSeconds(), 0U);
}

const float kInf = std::numeric_limits<float>::infinity();
const float kNan = std::numeric_limits<float>::quiet_NaN();
const std::int64_t kS = kBase / kSecond;

INSTANTIATE_TEST_SUITE_P(
    PendingRecords, TiFolding,
    ::testing::Values(
        FoldCase{"OneValue", {{7, kBase + 5, 1.5F}}, {{7, kS, 1.5, 1.5, 1.5, 1, ""}}},
        FoldCase{"ValuesOfOneSecondFold",
                 {{7, kBase, 3.0F}, {7, kBase + 400'000, -2.0F}, {7, kBase + 999'999, 0.25F}},
                 {{7, kS, 0.25, -2.0, 3.0, 3, ""}}},
        FoldCase{"TheNextSecondStartsARow",
                 {{7, kBase + 999'999, 1.0F}, {7, kBase + kSecond, 2.0F}},
                 {{7, kS, 1.0, 1.0, 1.0, 1, ""}, {7, kS + 1, 2.0, 2.0, 2.0, 1, ""}}},
        FoldCase{"PointsFoldApart",
                 {{7, kBase, 1.0F}, {8, kBase + 1, 5.0F}, {7, kBase + 2, 3.0F}},
                 {{7, kS, 3.0, 1.0, 3.0, 2, ""}, {8, kS, 5.0, 5.0, 5.0, 1, ""}}},
        FoldCase{"InfinityIsAValue",
                 {{7, kBase, 1.0F}, {7, kBase + 1, kInf}, {7, kBase + 2, -kInf}},
                 {{7, kS, -kInf, -kInf, kInf, 3, ""}}},
        FoldCase{"NanIsNotRecorded",
                 {{7, kBase, 1.0F}, {7, kBase + 1, kNan}, {7, kBase + 2, 2.0F}},
                 {{7, kS, 2.0, 1.0, 2.0, 2, ""}}},
        FoldCase{"PointsOutsideTheTableAreIgnored",
                 {{0, kBase, 1.0F}, {501, kBase, 1.0F}, {500, kBase, 4.0F}},
                 {{500, kS, 4.0, 4.0, 4.0, 1, ""}}},
        FoldCase{"SecondsBefore1970RoundDown",
                 {{7, -1, 1.0F}, {7, -kSecond, 2.0F}, {7, -kSecond - 1, 3.0F}},
                 {{7, -1, 2.0, 1.0, 2.0, 2, ""}, {7, -2, 3.0, 3.0, 3.0, 1, ""}}}),
    [](const ::testing::TestParamInfo<FoldCase>& info) { return std::string(info.param.name); });

TEST(PendingRecordsBound, FullQueueFoldsOldestSecondsPairwiseKeepingEveryValue) {
    // The smallest bound: two rows per point. Three seconds of every point overflow it.
    PendingRecords pending(0, 16);
    constexpr int kSeconds = 3;
    for (int s = 0; s < kSeconds; ++s) {
        for (int point = 1; point <= kPointCount; ++point) {
            pending.addTiValue(point, kBase + s * kSecond, "m", static_cast<float>(s * 10 + 1));
        }
    }
    const RecordBatch batch = pending.take();
    std::int64_t values = 0;
    for (const TiSecond& row : batch.tiSeconds) {
        values += row.count;
    }
    EXPECT_EQ(values, kSeconds * kPointCount);
    EXPECT_EQ(batch.tiSeconds.size() + pending.foldedTiSeconds(),
              static_cast<std::size_t>(kSeconds * kPointCount));
    EXPECT_GT(pending.foldedTiSeconds(), 0U);
    // A folded row keeps its first second and spans the next one: min of the first, last and
    // max of the later.
    const TiSecond& first = batch.tiSeconds.front();
    EXPECT_EQ(first.second, kS);
    EXPECT_EQ(first.count, 2);
    EXPECT_EQ(first.min, 1.0);
    EXPECT_EQ(first.last, 11.0);
    EXPECT_EQ(first.max, 11.0);
    // The newest second is still whole.
    EXPECT_EQ(batch.tiSeconds.back().second, kS + 2);
    EXPECT_EQ(batch.tiSeconds.back().count, 1);
}

TEST(PendingRecordsBound, TsChangesAndEventsAreKeptWholeOrDroppedAndCounted) {
    PendingRecords pending(0, 3);
    for (int i = 1; i <= 5; ++i) {
        pending.addTsChange(TsChange{i, kBase + i, std::nullopt, "m", 1, 1});
        pending.addEvent(DeviceEvent{DeviceEventKind::Missed, "m", 1, "ip", "", i, kBase + i});
    }
    RecordBatch batch = pending.take();
    ASSERT_EQ(batch.tsChanges.size(), 3U);
    ASSERT_EQ(batch.events.size(), 3U);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(batch.tsChanges[static_cast<std::size_t>(i)].point, i + 1);
        EXPECT_EQ(batch.events[static_cast<std::size_t>(i)].count, i + 1);
    }
    EXPECT_EQ(batch.lostTsChanges, 2U);
    EXPECT_EQ(batch.lostEvents, 2U);

    // The next batch starts with room and no losses of its own; the totals remain.
    pending.addTsChange(TsChange{9, kBase, std::nullopt, "m", 0, 0});
    batch = pending.take();
    EXPECT_EQ(batch.tsChanges.size(), 1U);
    EXPECT_EQ(batch.lostTsChanges, 0U);
    EXPECT_EQ(pending.lostTsChanges(), 2U);
    EXPECT_EQ(pending.lostEvents(), 2U);
}

}  // namespace
}  // namespace qvlink
