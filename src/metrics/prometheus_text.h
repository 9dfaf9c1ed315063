#pragma once

// The Prometheus text exposition format (version 0.0.4): families of samples with their
// HELP and TYPE lines, label values and help texts escaped.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qvlink {

enum class MetricType { Counter, Gauge };

/// One value of a family, told apart from its siblings by its labels (name, value).
struct MetricSample {
    std::vector<std::pair<std::string, std::string>> labels;
    double value = 0.0;
};

struct MetricFamily {
    std::string name;  ///< counters end in "_total"
    std::string help;  ///< one line; any text
    MetricType type = MetricType::Gauge;
    std::vector<MetricSample> samples;
};

/// [a-zA-Z_:][a-zA-Z0-9_:]* for a metric, [a-zA-Z_][a-zA-Z0-9_]* for a label.
bool isValidMetricName(std::string_view name);
bool isValidLabelName(std::string_view name);

/// A label value with backslash, double quote and line feed escaped.
std::string escapedLabelValue(std::string_view value);
/// A help text with backslash and line feed escaped.
std::string escapedHelp(std::string_view help);
/// Integers below 2^53 in full, others in the shortest exact form; "NaN", "+Inf", "-Inf".
std::string metricValueText(double value);

/// The families in order, each as HELP, TYPE and its samples. A family whose name or label
/// names are invalid, or whose name an earlier family took, is left out: one bad entry from
/// a caller must not spoil the whole scrape.
std::string renderPrometheusText(const std::vector<MetricFamily>& families);

}  // namespace qvlink
