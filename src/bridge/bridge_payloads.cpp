#include "bridge/bridge_payloads.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "common/clock.h"

namespace qvlink::bridge {

namespace {

using nlohmann::json;

constexpr std::int64_t kMicrosPerSecond = 1'000'000;

/// The time tag as an instant, when the item carried one that names a valid moment.
void addTimeTag(const TTimeTag& tag, json& out) {
    if (const std::optional<std::int64_t> tagUs = timeTagMicros(tag)) {
        out["time_tag"] = isoUtcText(*tagUs);
    }
}

std::string dumped(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

std::string isoUtcText(std::int64_t timeUs) {
    std::int64_t seconds = timeUs / kMicrosPerSecond;
    std::int64_t micros = timeUs % kMicrosPerSecond;
    if (micros < 0) {
        micros += kMicrosPerSecond;
        --seconds;
    }
    const std::time_t whole = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(micros / 1000));
    return text;
}

std::string deviceJson(const TDevice& device, std::int64_t lastUs, bool silent) {
    json out{{"mac", device.macAddr},
             {"type", device.deviceType},
             {"type_name", deviceTypeName(device.deviceType)},
             {"ip", device.ipAddr},
             {"total", device.total},
             {"missed", device.missed},
             {"restarts", device.restarts},
             {"last_received", isoUtcText(lastUs)},
             {"state", silent ? "silent" : "online"}};
    if (device.sequenced) {
        out["last_sequence"] = device.lastSeq;
    }
    return dumped(out);
}

std::string tsJson(const TTs& entry, std::int64_t receivedUs) {
    json out{{"number", entry.number},
             {"code", tsCodeText(entry.flags)},
             {"state", tsStateText(entry.flags)},
             {"flags", entry.flags},
             {"mac", entry.macAddr},
             {"received", isoUtcText(receivedUs)}};
    addTimeTag(entry.timeTag, out);
    return dumped(out);
}

std::string tiJson(const TTi& entry, std::int64_t receivedUs, const FormatSettings& format) {
    json out{{"number", entry.number},
             {"value", entry.value},  // NaN and infinities become null; "text" names them
             {"text", tiValueText(entry.value, format)},
             {"flags", entry.flags},
             {"mac", entry.macAddr},
             {"received", isoUtcText(receivedUs)}};
    addTimeTag(entry.timeTag, out);
    return dumped(out);
}

std::string eventJson(const DeviceEvent& event) {
    json out{{"kind", deviceEventKindName(event.kind)},
             {"mac", event.mac},
             {"type", event.deviceType},
             {"type_name", deviceTypeName(event.deviceType)},
             {"ip", event.ip},
             {"time", isoUtcText(event.timeUs)}};
    if (event.kind == DeviceEventKind::Missed) {
        out["count"] = event.count;
    }
    if (event.kind == DeviceEventKind::IpChanged) {
        out["previous_ip"] = event.previousIp;
    }
    return dumped(out);
}

std::string dropsJson(const DropCounts& drops) {
    return dumped(json{{"events_dropped", drops.events},
                       {"raw_dropped", drops.rawRecords},
                       {"backlog_dropped", drops.backlog}});
}

}  // namespace qvlink::bridge
