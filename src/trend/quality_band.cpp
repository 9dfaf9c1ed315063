#include "trend/quality_band.h"

#include <algorithm>

namespace qvlink {
namespace {

TimeSpan clipped(TimeSpan inner, TimeSpan outer) {
    return {std::max(inner.fromUs, outer.fromUs), std::min(inner.toUs, outer.toUs)};
}

void addSpan(std::vector<TimeSpan>& spans, TimeSpan candidate, TimeSpan span) {
    const TimeSpan inside = clipped(candidate, span);
    if (inside.fromUs < inside.toUs) {
        spans.push_back(inside);
    }
}

}  // namespace

DeviceHealth deviceHealth(const std::vector<StoredDeviceEvent>& events, const std::string& mac,
                          TimeSpan span) {
    DeviceHealth health;
    bool silent = false;
    std::int64_t silentFrom = 0;
    for (const StoredDeviceEvent& event : events) {
        if (event.mac != mac) {
            continue;
        }
        if (event.kind == "silent") {
            silent = true;
            silentFrom = event.timeUs - kSilenceUs;
        } else if (event.kind == "returned") {
            // Without its start in the span, the silence began before the span did.
            addSpan(health.silences, {silent ? silentFrom : span.fromUs, event.timeUs}, span);
            silent = false;
        } else if (event.kind == "restart") {
            health.restarts.push_back({event.timeUs, 0});
        } else if (event.kind == "missed") {
            health.misses.push_back({event.timeUs, event.count});
        }
    }
    if (silent) {
        addSpan(health.silences, {silentFrom, span.toUs}, span);
    }
    return health;
}

std::vector<TimeSpan> monitorOffSpans(const std::vector<TimeSpan>& recordings, TimeSpan span) {
    std::vector<TimeSpan> off;
    for (std::size_t i = 1; i < recordings.size(); ++i) {
        addSpan(off, {recordings[i - 1].toUs, recordings[i].fromUs}, span);
    }
    return off;
}

}  // namespace qvlink
