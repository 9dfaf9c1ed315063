#include "command_watch/command_watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvlink {
namespace {

constexpr const char* kMac = "FA:CE:01:00:11:22";
constexpr const char* kOtherMac = "FA:CE:01:00:33:44";
constexpr const char* kOldIp = "10.0.0.7";
constexpr const char* kNewIp = "10.0.0.5";
constexpr std::uint8_t kSequencedType = 16;

/// One step of a scripted bus under a virtual clock.
struct Step {
    enum Kind { Datagram, Wait, ExpectAddress, ExpectFirmware } kind;
    std::string mac;
    std::string ip;
    int seq = 0;
    int ms = 0;
};

Step datagram(const char* ip, int seq, const char* mac = kMac) {
    return {Step::Datagram, mac, ip, seq, 0};
}
Step waitMs(int ms) {
    return {Step::Wait, {}, {}, 0, ms};
}
Step expectAddress(const char* ip, const char* mac = kMac) {
    return {Step::ExpectAddress, mac, ip, 0, 0};
}
Step expectFirmware() {
    return {Step::ExpectFirmware, kMac, {}, 0, 0};
}
/// A device speaking once a second for `seconds` with its numbering going on from `seq`.
std::vector<Step> steady(const char* ip, int seq, int seconds) {
    std::vector<Step> steps;
    for (int s = 0; s < seconds; ++s) {
        steps.push_back(waitMs(1000));
        steps.push_back(datagram(ip, seq + s));
    }
    return steps;
}

struct Report {
    std::int64_t atMs;
    std::string text;
    bool operator==(const Report&) const = default;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
    std::vector<Report> reports;
};

std::vector<Step> joined(std::vector<std::vector<Step>> parts) {
    std::vector<Step> steps;
    for (auto& part : parts) {
        steps.insert(steps.end(), part.begin(), part.end());
    }
    return steps;
}

/// Runs the steps as the monitor would: datagrams into the registry, and at every whole second
/// of the clock the refresh raising the ages and then ticking the watch.
std::vector<Report> run(const std::vector<Step>& steps) {
    std::int64_t nowMs = 0;
    DeviceRegistry registry([] { return LocalDateTime{2026, 12, 9, 12, 0, 0, 0}; },
                            [&nowMs] { return nowMs * 1000; });
    std::vector<Report> reports;
    CommandWatch watch(
        registry, [&nowMs] { return nowMs; }, FormatSettings{",", ":"},
        [&](const std::string& text) {
            reports.push_back({nowMs, text});
        });
    const auto packetFrom = [](const Step& step) {
        TPacket packet;
        packet.deviceType = kSequencedType;
        packet.sequenced = true;
        packet.macAddr = step.mac;
        packet.seq = static_cast<std::uint8_t>(step.seq);
        return packet;
    };
    registry.updateDevice(kOldIp, packetFrom(datagram(kOldIp, 10)));
    for (const Step& step : steps) {
        switch (step.kind) {
            case Step::Datagram:
                registry.updateDevice(step.ip, packetFrom(step));
                break;
            case Step::ExpectAddress:
                watch.expectAddress(step.mac, step.ip);
                break;
            case Step::ExpectFirmware:
                watch.expectFirmwareRestart(step.mac);
                break;
            case Step::Wait:
                for (int ms = 0; ms < step.ms; ms += 100) {
                    nowMs += 100;
                    if (nowMs % 1000 == 0) {
                        for (int i = 0; i < registry.deviceCount(); ++i) {
                            registry.incDeviceTimeout(i);
                        }
                        watch.tick();
                    }
                }
                break;
        }
    }
    EXPECT_EQ(watch.pendingCount(), 0) << "every watch ends with one report";
    return reports;
}

class CommandWatchTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(CommandWatchTest, ReportsEachOutcomeOnceAtItsMoment) {
    EXPECT_EQ(run(GetParam().steps), GetParam().reports);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandWatchTest,
    ::testing::Values(
        Scenario{"DeviceHeardFromTheNewAddress",
                 {expectAddress(kNewIp), waitMs(2300), datagram(kNewIp, 11)},
                 {{2300, "FA:CE:01:00:11:22 отвечает с 10.0.0.5 через 2,3 с"}}},
        Scenario{"FirstDatagramAfterARestartFromTheNewAddressCounts",
                 {expectAddress(kNewIp), waitMs(4000), datagram(kNewIp, 0)},
                 {{4000, "FA:CE:01:00:11:22 отвечает с 10.0.0.5 через 4,0 с"}}},
        Scenario{"DeviceStayingOnItsOldAddressTimesOutAtThirtySeconds",
                 joined({{expectAddress(kNewIp)}, steady(kOldIp, 11, 31)}),
                 {{30000, "FA:CE:01:00:11:22 не появился с адресом 10.0.0.5 за 30 с"}}},
        Scenario{
            "AnotherDeviceOnTheNewAddressDoesNotCount",
            {expectAddress(kNewIp), waitMs(1000), datagram(kNewIp, 0, kOtherMac), waitMs(29000)},
            {{30000, "FA:CE:01:00:11:22 не появился с адресом 10.0.0.5 за 30 с"}}},
        Scenario{"ALaterCommandReplacesTheWatchOfAnEarlierOne",
                 {expectAddress("10.0.0.9"), waitMs(1000), expectAddress(kNewIp), waitMs(500),
                  datagram("10.0.0.9", 11), waitMs(500), datagram(kNewIp, 12)},
                 {{2000, "FA:CE:01:00:11:22 отвечает с 10.0.0.5 через 1,0 с"}}},
        Scenario{
            "FirmwareModeEndsInARestart",
            {expectFirmware(), waitMs(6200), datagram(kOldIp, 0), waitMs(30000)},
            {{6200, "FA:CE:01:00:11:22 перезапустился через 6,2 с после команды обновления ПО"}}},
        Scenario{"FirmwareModeLeavesTheDeviceSilent",
                 {expectFirmware(), waitMs(30000)},
                 {{30000, "FA:CE:01:00:11:22 молчит 30 с после команды обновления ПО"}}},
        Scenario{"DeviceThatGoesOnTalkingIsNeitherRestartedNorSilent",
                 joined({{expectFirmware()}, steady(kOldIp, 11, 30)}),
                 {{30000,
                   "FA:CE:01:00:11:22 не перезапустился и не замолчал за 30 с после "
                   "команды обновления ПО"}}},
        Scenario{"FiveQuietSecondsAtTheEndAreSilence",
                 joined({{expectFirmware()}, steady(kOldIp, 11, 25), {waitMs(5000)}}),
                 {{30000, "FA:CE:01:00:11:22 молчит 5 с после команды обновления ПО"}}},
        Scenario{"ShortPauseBeforeTheEndIsNotSilence",
                 joined({{expectFirmware()}, steady(kOldIp, 11, 26), {waitMs(4000)}}),
                 {{30000,
                   "FA:CE:01:00:11:22 не перезапустился и не замолчал за 30 с после "
                   "команды обновления ПО"}}},
        Scenario{"RestartOfAnotherDeviceDoesNotCount",
                 {datagram("10.0.0.8", 40, kOtherMac), expectFirmware(), waitMs(1000),
                  datagram("10.0.0.8", 0, kOtherMac), datagram(kOldIp, 11), waitMs(29000)},
                 {{30000, "FA:CE:01:00:11:22 молчит 29 с после команды обновления ПО"}}}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvlink
