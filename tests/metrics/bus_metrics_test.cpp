#include "metrics/bus_metrics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace qvlink {
namespace {

TPacket packet(std::uint8_t type, const char* mac, std::uint8_t msgClass, std::uint8_t seq) {
    TPacket p;
    p.deviceType = type;
    p.sequenced = true;
    p.macAddr = mac;
    p.msgClass = msgClass;
    p.seq = seq;
    return p;
}

/// Two devices, one losing a datagram and restarting, one quiet since 500 ms, and garbage.
class BusMetricsTest : public ::testing::Test {
protected:
    void SetUp() override {
        receive(0, "10.0.0.5", packet(1, "FA:CE:01:00:11:22", 2, 1));
        receive(500, "10.0.0.60", packet(16, "FA:CE:10:00:00:3C", 3, 5));
        receive(1000, "10.0.0.5", packet(1, "FA:CE:01:00:11:22", 2, 3));
        receive(2000, "10.0.0.5", packet(1, "FA:CE:01:00:11:22", 1, 0));
        statistics.countDropped(DropReason::NoMagic, "10.0.0.9");
        statistics.countDropped(DropReason::NoMagic, "10.0.0.9");
        statistics.countDropped(DropReason::TooShort, "10.0.0.11");
    }

    void receive(std::int64_t ms, const char* ip, const TPacket& p) {
        registry.updateDevice(ip, p);
        statistics.countAccepted(p, 12, ms);
    }

    DeviceRegistry registry{[] { return LocalDateTime{2026, 12, 9, 12, 0, 0, 0}; },
                            [] { return std::int64_t{0}; }};
    BusStatistics statistics{registry};
};

TEST_F(BusMetricsTest, RendersTheBusCountsUnderStableNames) {
    EXPECT_EQ(renderPrometheusText(busMetricFamilies(statistics, 2000)),
              "# HELP qvlink_datagrams_total Datagrams accepted, by device type and message "
              "class.\n"
              "# TYPE qvlink_datagrams_total counter\n"
              "qvlink_datagrams_total{device_type=\"1\",device_name=\"Тирон\",class=\"1\"} 1\n"
              "qvlink_datagrams_total{device_type=\"1\",device_name=\"Тирон\",class=\"2\"} 2\n"
              "qvlink_datagrams_total{device_type=\"16\",device_name=\"Ларта-К\",class=\"3\"} 1\n"
              "# HELP qvlink_dropped_datagrams_total Datagrams on the bus port that were not "
              "decoded, by reason.\n"
              "# TYPE qvlink_dropped_datagrams_total counter\n"
              "qvlink_dropped_datagrams_total{reason=\"too long\"} 0\n"
              "qvlink_dropped_datagrams_total{reason=\"bad magic\"} 2\n"
              "qvlink_dropped_datagrams_total{reason=\"too short\"} 1\n"
              "qvlink_dropped_datagrams_total{reason=\"unknown device type\"} 0\n"
              "qvlink_dropped_datagrams_total{reason=\"empty\"} 0\n"
              "qvlink_dropped_datagrams_total{reason=\"fragment\"} 0\n"
              "qvlink_dropped_datagrams_total{reason=\"truncated\"} 0\n"
              "# HELP qvlink_devices Devices heard since the start.\n"
              "# TYPE qvlink_devices gauge\n"
              "qvlink_devices 2\n"
              "# HELP qvlink_devices_online Devices heard within the last 60 seconds.\n"
              "# TYPE qvlink_devices_online gauge\n"
              "qvlink_devices_online 2\n"
              "# HELP qvlink_device_missed_datagrams_total Datagrams a device numbered but the "
              "bus did not deliver.\n"
              "# TYPE qvlink_device_missed_datagrams_total counter\n"
              "qvlink_device_missed_datagrams_total{mac=\"FA:CE:01:00:11:22\",device_type=\"1\"} "
              "1\n"
              "qvlink_device_missed_datagrams_total{mac=\"FA:CE:10:00:00:3C\",device_type=\"16\"} "
              "0\n"
              "# HELP qvlink_device_restarts_total Times a device started its numbering again.\n"
              "# TYPE qvlink_device_restarts_total counter\n"
              "qvlink_device_restarts_total{mac=\"FA:CE:01:00:11:22\",device_type=\"1\"} 1\n"
              "qvlink_device_restarts_total{mac=\"FA:CE:10:00:00:3C\",device_type=\"16\"} 0\n");
}

TEST_F(BusMetricsTest, ADeviceIsOnlineUntilSixtySecondsOfSilence) {
    const struct {
        std::int64_t nowMs;
        double online;
    } cases[] = {
        {60499, 2},  // the quiet device: 59.999 s
        {60500, 1},  // 60 s: silent, as the registry has it
        {61999, 1},
        {62000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nowMs);
        const std::vector<MetricFamily> families = busMetricFamilies(statistics, c.nowMs);
        const auto online =
            std::ranges::find(families, "qvlink_devices_online", &MetricFamily::name);
        ASSERT_NE(online, families.end());
        ASSERT_EQ(online->samples.size(), 1U);
        EXPECT_EQ(online->samples[0].value, c.online);
    }
}

}  // namespace
}  // namespace qvlink
