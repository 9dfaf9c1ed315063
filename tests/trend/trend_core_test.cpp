#include <gtest/gtest.h>

#include "trend/quality_band.h"
#include "trend/trend_csv.h"
#include "trend/trend_series.h"

namespace qvlink {
namespace {

constexpr std::int64_t kSecond = 1'000'000;

TEST(TrendSeries, StoredPastUpToTheLiveStartThenLiveValuesWithoutOverlap) {
    TrendSeries series({PointKind::Ti, 17}, 100 * kSecond);
    series.addLive(100 * kSecond, 7.0, "AA");
    // The store, read later, already holds the first live second too: it is not doubled.
    series.setHistory({{{98 * kSecond, 5.0}, {99 * kSecond, 6.0}, {100 * kSecond, 7.0}}, 0, "BB"});
    series.addLive(101 * kSecond, 8.0, "AA");
    const std::vector<TrendSample> expected = {
        {98 * kSecond, 5.0}, {99 * kSecond, 6.0}, {100 * kSecond, 7.0}, {101 * kSecond, 8.0}};
    EXPECT_EQ(series.samples(), expected);
    EXPECT_EQ(series.lastMac(), "AA");
    double value = 0;
    EXPECT_FALSE(series.valueAt(97 * kSecond, value));
    ASSERT_TRUE(series.valueAt(100 * kSecond + 500'000, value));
    EXPECT_EQ(value, 7.0);
}

TEST(TrendSeries, LiveValuesOlderThanTheKeptSpanLeaveItToTheStore) {
    TrendSeries series({PointKind::Ti, 1}, 0);
    series.addLive(10 * kSecond, 1.0, "AA");
    series.addLive(TrendSeries::kLiveKeepUs + 20 * kSecond, 2.0, "AA");
    series.setHistory({{{5 * kSecond, 0.5}, {15 * kSecond, 1.5}}, 0, "AA"});
    series.trimLive(TrendSeries::kLiveKeepUs + 20 * kSecond);
    const std::vector<TrendSample> expected = {
        {5 * kSecond, 0.5}, {15 * kSecond, 1.5}, {TrendSeries::kLiveKeepUs + 20 * kSecond, 2.0}};
    EXPECT_EQ(series.samples(), expected);
}

TEST(TrendSeries, TsLiveFlagsBecomeLevelsNamedAsInTheGrid) {
    const struct {
        int flags;
        double level;
        const char* text;
    } cases[] = {{0x00, 0, "откл"}, {0x01, 1, "вкл"}, {0x04, 0, "обрыв"},
                 {0x05, 1, "откл"}, {0x06, 2, "вкл"}, {0x07, 3, "авария"}};
    for (const auto& c : cases) {
        TrendSeries series({PointKind::Ts, 5}, 0);
        series.addLive(kSecond, c.flags, "AA");
        ASSERT_EQ(series.samples().size(), 1U);
        EXPECT_EQ(series.samples()[0].value, c.level) << c.flags;
        EXPECT_EQ(series.valueText(c.level, {}), c.text) << c.flags;
    }
    EXPECT_EQ(seriesLabel({PointKind::Ts, 5}), "ТС 5");
    EXPECT_EQ(seriesLabel({PointKind::Ti, 17}), "ТИ 17");
}

TEST(QualityBand, DeviceHealthFromItsEvents) {
    const TimeSpan span{0, 1000 * kSecond};
    const std::vector<StoredDeviceEvent> events = {
        {50 * kSecond, "AA", "returned", 0},  // silent since before the span
        {100 * kSecond, "BB", "restart", 0},  // another device
        {200 * kSecond, "AA", "restart", 0}, {300 * kSecond, "AA", "missed", 7},
        {400 * kSecond, "AA", "silent", 0},  {500 * kSecond, "AA", "returned", 0},
        {900 * kSecond, "AA", "silent", 0},  // still silent at the end
    };
    const DeviceHealth health = deviceHealth(events, "AA", span);
    const std::vector<TimeSpan> silences = {
        {0, 50 * kSecond}, {340 * kSecond, 500 * kSecond}, {840 * kSecond, 1000 * kSecond}};
    EXPECT_EQ(health.silences, silences);
    EXPECT_EQ(health.restarts, (std::vector<BandMark>{{200 * kSecond, 0}}));
    EXPECT_EQ(health.misses, (std::vector<BandMark>{{300 * kSecond, 7}}));
}

TEST(QualityBand, MonitorOffBetweenRunsClippedToTheSpan) {
    const std::vector<TimeSpan> runs = {{0, 100}, {150, 300}, {400, 500}};
    EXPECT_EQ(monitorOffSpans(runs, {120, 450}), (std::vector<TimeSpan>{{120, 150}, {300, 400}}));
    EXPECT_EQ(monitorOffSpans(runs, {160, 290}), std::vector<TimeSpan>{});
    EXPECT_EQ(monitorOffSpans({{0, 100}}, {0, 1000}), std::vector<TimeSpan>{});
}

TEST(TrendCsv, OneColumnPerSeriesOneLinePerTimeInTheShownRange) {
    setenv("TZ", "UTC", 1);
    tzset();
    const std::int64_t t0 = 1'765'270'800LL * kSecond;  // 2025-12-09 09:00:00 UTC
    TrendSeries ti({PointKind::Ti, 17}, 0);
    TrendSeries ts({PointKind::Ts, 5}, 0);
    ti.addLive(t0 - kSecond, 1.0, "AA");  // before the range
    ti.addLive(t0 + 250'000, 12.5, "AA");
    ts.addLive(t0 + 250'000, 0x01, "AA");
    ts.addLive(t0 + 2 * kSecond, 0x00, "AA");
    ti.addLive(t0 + 3 * kSecond, -0.125, "AA");
    ti.addLive(t0 + 10 * kSecond, 9, "AA");  // at the end: outside the half-open range
    EXPECT_EQ(trendCsv({&ti, &ts}, {t0, t0 + 10 * kSecond}, {",", ":"}),
              "Время;ТИ 17;ТС 5\r\n"
              "2025-12-09T09:00:00.250;12,50;вкл\r\n"
              "2025-12-09T09:00:02.000;;откл\r\n"
              "2025-12-09T09:00:03.000;-0,13;\r\n");
}

}  // namespace
}  // namespace qvlink
