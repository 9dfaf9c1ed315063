#include "metrics/prometheus_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace qvlink {
namespace {

TEST(PrometheusText, ValuesAreExactIntegersOrShortestDecimals) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {0.0, "0"},
        {100000.0, "100000"},
        {-3.0, "-3"},
        {9007199254740991.0, "9007199254740991"},  // 2^53 - 1: still whole
        {1e20, "1e+20"},
        {0.1, "0.1"},
        {2.5, "2.5"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {std::numeric_limits<double>::infinity(), "+Inf"},
        {-std::numeric_limits<double>::infinity(), "-Inf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(metricValueText(c.value), c.text) << c.text;
    }
}

TEST(PrometheusText, LabelValuesAndHelpAreEscaped) {
    EXPECT_EQ(escapedLabelValue("a\\b\"c\nd Ларта"), "a\\\\b\\\"c\\nd Ларта");
    EXPECT_EQ(escapedHelp("a\\b\"c\nd"), "a\\\\b\"c\\nd");
}

TEST(PrometheusText, NamesFollowTheFormatsRules) {
    const struct {
        const char* name;
        bool metric;
        bool label;
    } cases[] = {
        {"qvlink_datagrams_total", true, true},
        {"_x", true, true},
        {"job:rate5m", true, false},
        {"9lives", false, false},
        {"", false, false},
        {"with-dash", false, false},
        {"имя", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isValidMetricName(c.name), c.metric);
        EXPECT_EQ(isValidLabelName(c.name), c.label);
    }
}

TEST(PrometheusText, RendersFamiliesAndLeavesOutBadOnesWhole) {
    const std::vector<MetricFamily> families{
        {"qvlink_dropped_datagrams_total",
         "Dropped, by reason.",
         MetricType::Counter,
         {{{{"reason", "bad magic"}}, 2}, {{{"reason", "say \"hi\""}}, 0}}},
        {"qvlink_mqtt_queue_depth", "Messages\nwaiting.", MetricType::Gauge, {{{}, 17}}},
        {"bad-name", "x", MetricType::Gauge, {{{}, 1}}},
        {"qvlink_bad_label", "x", MetricType::Gauge, {{{{"1st", "v"}}, 1}}},
        {"qvlink_mqtt_queue_depth", "taken already", MetricType::Gauge, {{{}, 5}}},
        {"qvlink_empty", "No samples yet.", MetricType::Gauge, {}},
    };
    EXPECT_EQ(renderPrometheusText(families),
              "# HELP qvlink_dropped_datagrams_total Dropped, by reason.\n"
              "# TYPE qvlink_dropped_datagrams_total counter\n"
              "qvlink_dropped_datagrams_total{reason=\"bad magic\"} 2\n"
              "qvlink_dropped_datagrams_total{reason=\"say \\\"hi\\\"\"} 0\n"
              "# HELP qvlink_mqtt_queue_depth Messages\\nwaiting.\n"
              "# TYPE qvlink_mqtt_queue_depth gauge\n"
              "qvlink_mqtt_queue_depth 17\n"
              "# HELP qvlink_empty No samples yet.\n"
              "# TYPE qvlink_empty gauge\n");
}

}  // namespace
}  // namespace qvlink
