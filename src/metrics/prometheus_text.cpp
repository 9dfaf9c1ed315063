#include "metrics/prometheus_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <set>

namespace qvlink {
namespace {

/// The largest magnitude below which every integer is exact in a double.
constexpr double kExactIntegerLimit = 9007199254740992.0;  // 2^53

bool isNameChar(char c, bool first, bool colonAllowed) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    return letter || (colonAllowed && c == ':') || (!first && digit);
}

bool isValidName(std::string_view name, bool colonAllowed) {
    if (name.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (!isNameChar(name[i], i == 0, colonAllowed)) {
            return false;
        }
    }
    return true;
}

std::string escaped(std::string_view text, bool quotes) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (quotes && c == '"') {
            out += "\\\"";
        } else {
            out += c;
        }
    }
    return out;
}

bool hasValidLabels(const MetricFamily& family) {
    return std::ranges::all_of(family.samples, [](const MetricSample& sample) {
        return std::ranges::all_of(sample.labels,
                                   [](const auto& label) { return isValidLabelName(label.first); });
    });
}

void appendSample(const std::string& name, const MetricSample& sample, std::string& out) {
    out += name;
    if (!sample.labels.empty()) {
        out += '{';
        for (std::size_t i = 0; i < sample.labels.size(); ++i) {
            if (i != 0) {
                out += ',';
            }
            out += sample.labels[i].first;
            out += "=\"";
            out += escapedLabelValue(sample.labels[i].second);
            out += '"';
        }
        out += '}';
    }
    out += ' ';
    out += metricValueText(sample.value);
    out += '\n';
}

}  // namespace

bool isValidMetricName(std::string_view name) {
    return isValidName(name, true);
}

bool isValidLabelName(std::string_view name) {
    return isValidName(name, false);
}

std::string escapedLabelValue(std::string_view value) {
    return escaped(value, true);
}

std::string escapedHelp(std::string_view help) {
    return escaped(help, false);
}

std::string metricValueText(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    if (value == std::trunc(value) && std::fabs(value) < kExactIntegerLimit) {
        return std::to_string(static_cast<std::int64_t>(value));
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string renderPrometheusText(const std::vector<MetricFamily>& families) {
    std::string out;
    std::set<std::string_view> taken;
    for (const MetricFamily& family : families) {
        if (!isValidMetricName(family.name) || !hasValidLabels(family) ||
            !taken.insert(family.name).second) {
            continue;
        }
        out += "# HELP " + family.name + ' ' + escapedHelp(family.help) + '\n';
        out += "# TYPE " + family.name +
               (family.type == MetricType::Counter ? " counter\n" : " gauge\n");
        for (const MetricSample& sample : family.samples) {
            appendSample(family.name, sample, out);
        }
    }
    return out;
}

}  // namespace qvlink
