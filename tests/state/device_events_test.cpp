#include "state/device_events.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/device_registry.h"

namespace qvlink {
namespace {

constexpr const char* kMac = "FA:CE:10:0A:00:3C";

/// One step of a scenario: a datagram from `ip` with sequence `seq`, or, when `ip` is empty,
/// `agedSeconds` refreshes of the device's age.
struct Step {
    std::string ip;
    int seq = 0;
    int agedSeconds = 0;
};

Step datagram(const std::string& ip, int seq) {
    return {ip, seq, 0};
}

Step refreshes(int seconds) {
    return {"", 0, seconds};
}

struct Expected {
    Expected(DeviceEventKind kind, int count, std::string ip, std::string previousIp = {})
        : kind(kind), count(count), ip(std::move(ip)), previousIp(std::move(previousIp)) {}
    DeviceEventKind kind;
    int count;
    std::string ip;
    std::string previousIp;
};

struct Scenario {
    const char* name;
    std::uint8_t deviceType;
    std::vector<Step> steps;
    std::vector<Expected> events;
};

class DeviceEventsTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(DeviceEventsTest, PublishesExactlyTheEventsOfTheScenario) {
    const Scenario& scenario = GetParam();
    std::int64_t nowUs = 1'700'000'000'000'000;
    DeviceRegistry registry([] { return LocalDateTime{2024, 6, 15, 12, 0, 0, 0}; },
                            [&nowUs] { return nowUs; });
    std::vector<DeviceEvent> published;
    registry.events().subscribe([&](const DeviceEvent& event) { published.push_back(event); });

    for (const Step& step : scenario.steps) {
        if (step.ip.empty()) {
            for (int s = 0; s < step.agedSeconds; ++s) {
                nowUs += 1'000'000;
                registry.incDeviceTimeout(0);
            }
            continue;
        }
        nowUs += 250'000;
        TPacket packet;
        packet.deviceType = scenario.deviceType;
        packet.sequenced = findDeviceType(scenario.deviceType)->sequenced;
        packet.macAddr = kMac;
        packet.seq = static_cast<std::uint8_t>(step.seq);
        const std::size_t before = published.size();
        registry.updateDevice(step.ip, packet);
        for (std::size_t i = before; i < published.size(); ++i) {
            EXPECT_EQ(published[i].timeUs, nowUs) << "event " << i << " stamped when it happened";
        }
    }

    ASSERT_EQ(published.size(), scenario.events.size());
    for (std::size_t i = 0; i < published.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(published[i].kind, scenario.events[i].kind);
        EXPECT_EQ(published[i].count, scenario.events[i].count);
        EXPECT_EQ(published[i].ip, scenario.events[i].ip);
        EXPECT_EQ(published[i].previousIp, scenario.events[i].previousIp);
        EXPECT_EQ(published[i].mac, kMac);
        EXPECT_EQ(published[i].deviceType, scenario.deviceType);
    }
}

using K = DeviceEventKind;
const char* const kA = "10.0.0.7";
const char* const kB = "10.0.0.8";

INSTANTIATE_TEST_SUITE_P(
    Registry, DeviceEventsTest,
    ::testing::Values(
        Scenario{"FirstDatagramIsFirstSeenOnly", 16, {datagram(kA, 200)}, {{K::FirstSeen, 0, kA}}},
        Scenario{"SteadySequenceIsQuiet",
                 16,
                 {datagram(kA, 254), datagram(kA, 255), datagram(kA, 0), datagram(kA, 1)},
                 {{K::FirstSeen, 0, kA}}},
        Scenario{"ForwardJumpCountsEveryLostDatagram",
                 16,
                 {datagram(kA, 10), datagram(kA, 14)},
                 {{K::FirstSeen, 0, kA}, {K::Missed, 3, kA}}},
        Scenario{"LossAcrossTheWrapCountsOne",
                 16,
                 {datagram(kA, 254), datagram(kA, 0)},
                 {{K::FirstSeen, 0, kA}, {K::Missed, 1, kA}}},
        Scenario{"FallBackToZeroIsRestart",
                 16,
                 {datagram(kA, 100), datagram(kA, 0)},
                 {{K::FirstSeen, 0, kA}, {K::Restart, 0, kA}}},
        Scenario{"ClassOnlyTypeHasNoSequenceEvents",
                 8,
                 {datagram(kA, 100), datagram(kA, 0), datagram(kA, 50)},
                 {{K::FirstSeen, 0, kA}}},
        Scenario{"NewSenderAddressIsIpChanged",
                 16,
                 {datagram(kA, 1), datagram(kB, 2), datagram(kB, 3)},
                 {{K::FirstSeen, 0, kA}, {K::IpChanged, 0, kB, kA}}},
        Scenario{"FiftyNineQuietSecondsAreNotSilence",
                 16,
                 {datagram(kA, 1), refreshes(59), datagram(kA, 2)},
                 {{K::FirstSeen, 0, kA}}},
        Scenario{
            "SixtySecondsAreSilenceOnceThenReturnAtTheNextDatagram",
            16,
            {datagram(kA, 1), refreshes(200), datagram(kA, 2), refreshes(60)},
            {{K::FirstSeen, 0, kA}, {K::Silent, 0, kA}, {K::Returned, 0, kA}, {K::Silent, 0, kA}}},
        Scenario{"ReturnFromAnotherAddressAfterARestart",
                 16,
                 {datagram(kA, 77), refreshes(60), datagram(kB, 0)},
                 {{K::FirstSeen, 0, kA},
                  {K::Silent, 0, kA},
                  {K::Returned, 0, kB},
                  {K::IpChanged, 0, kB, kA},
                  {K::Restart, 0, kB}}}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

TEST(DeviceEventKindName, StoredNamesAreDistinctAndStable) {
    EXPECT_STREQ(deviceEventKindName(K::FirstSeen), "first_seen");
    EXPECT_STREQ(deviceEventKindName(K::Restart), "restart");
    EXPECT_STREQ(deviceEventKindName(K::Missed), "missed");
    EXPECT_STREQ(deviceEventKindName(K::Silent), "silent");
    EXPECT_STREQ(deviceEventKindName(K::Returned), "returned");
    EXPECT_STREQ(deviceEventKindName(K::IpChanged), "ip_changed");
}

TEST(DeviceEventSource, EveryListenerHearsEveryEventInSubscriptionOrder) {
    DeviceEventSource source;
    std::string heard;
    source.subscribe([&heard](const DeviceEvent& event) { heard += "a" + event.mac; });
    source.subscribe([&heard](const DeviceEvent& event) { heard += "b" + event.mac; });
    source.publish(DeviceEvent{K::Silent, "1", 1, "", "", 0, 0});
    source.publish(DeviceEvent{K::Returned, "2", 1, "", "", 0, 0});
    EXPECT_EQ(heard, "a1b1a2b2");
}

}  // namespace
}  // namespace qvlink
