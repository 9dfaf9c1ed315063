#pragma once

// The bus accounting as metric families: the same counts the statistics window and
// qvlink-dump's table show, for monitoring systems that scrape.

#include <cstdint>
#include <vector>

#include "busstats/bus_statistics.h"
#include "metrics/prometheus_text.h"

namespace qvlink {

/// Datagrams by device type and message class, dropped datagrams by reason (every reason,
/// zero included, so that rates start at once), devices known and online (heard within
/// kSilenceSeconds of `nowMs`), and per device its missed datagrams and restarts.
std::vector<MetricFamily> busMetricFamilies(const BusStatistics& statistics, std::int64_t nowMs);

}  // namespace qvlink
