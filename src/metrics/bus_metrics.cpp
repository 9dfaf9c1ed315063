#include "metrics/bus_metrics.h"

#include <string>

#include "state/device_events.h"

namespace qvlink {
namespace {

constexpr double kSilenceMs = kSilenceSeconds * 1000.0;

MetricFamily family(const char* name, std::string help, MetricType type) {
    return {name, std::move(help), type, {}};
}

MetricFamily trafficMix(const BusStatistics& statistics) {
    MetricFamily mix =
        family("qvlink_datagrams_total", "Datagrams accepted, by device type and message class.",
               MetricType::Counter);
    for (const auto& [key, count] : statistics.byTypeAndClass()) {
        mix.samples.push_back({{{"device_type", std::to_string(key.deviceType)},
                                {"device_name", deviceTypeName(key.deviceType)},
                                {"class", std::to_string(key.msgClass)}},
                               static_cast<double>(count)});
    }
    return mix;
}

MetricFamily drops(const BusStatistics& statistics) {
    MetricFamily dropped =
        family("qvlink_dropped_datagrams_total",
               "Datagrams on the bus port that were not decoded, by reason.", MetricType::Counter);
    for (std::size_t i = 0; i < kDropReasonCount; ++i) {
        const auto reason = static_cast<DropReason>(i);
        dropped.samples.push_back({{{"reason", dropReasonName(reason)}},
                                   static_cast<double>(statistics.dropped(reason).count)});
    }
    return dropped;
}

}  // namespace

std::vector<MetricFamily> busMetricFamilies(const BusStatistics& statistics, std::int64_t nowMs) {
    MetricFamily known =
        family("qvlink_devices", "Devices heard since the start.", MetricType::Gauge);
    MetricFamily online =
        family("qvlink_devices_online",
               "Devices heard within the last " + std::to_string(kSilenceSeconds) + " seconds.",
               MetricType::Gauge);
    MetricFamily missed =
        family("qvlink_device_missed_datagrams_total",
               "Datagrams a device numbered but the bus did not deliver.", MetricType::Counter);
    MetricFamily restarts =
        family("qvlink_device_restarts_total", "Times a device started its numbering again.",
               MetricType::Counter);
    int onlineCount = 0;
    DeviceStatisticsView view;
    for (int number = 1; statistics.viewDevice(number, nowMs, view); ++number) {
        onlineCount += view.silenceMs < kSilenceMs ? 1 : 0;
        const std::vector<std::pair<std::string, std::string>> labels{
            {"mac", view.device.macAddr}, {"device_type", std::to_string(view.device.deviceType)}};
        missed.samples.push_back({labels, static_cast<double>(view.device.missed)});
        restarts.samples.push_back({labels, static_cast<double>(view.device.restarts)});
    }
    known.samples.push_back({{}, static_cast<double>(statistics.deviceCount())});
    online.samples.push_back({{}, static_cast<double>(onlineCount)});
    std::vector<MetricFamily> families;
    families.push_back(trafficMix(statistics));
    families.push_back(drops(statistics));
    families.push_back(std::move(known));
    families.push_back(std::move(online));
    families.push_back(std::move(missed));
    families.push_back(std::move(restarts));
    return families;
}

}  // namespace qvlink
