#include "bridge/bus_mirror.h"

#include <gtest/gtest.h>

#include <bit>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/packet_builder.h"

namespace qvlink::bridge {
namespace {

using nlohmann::json;
using test::sequencedDatagram;

constexpr std::int64_t kStartUs = 1796810400LL * 1'000'000;
constexpr std::int64_t kMs = 1000;
constexpr std::int64_t kSecond = 1'000'000;
constexpr std::uint32_t kAddress = 0x001122;
const std::string kMac = "FA:CE:01:00:11:22";

/// A mirror under prefix "site", and what it has published so far.
class Mirror : public ::testing::Test {
protected:
    void receive(std::int64_t atUs, const std::vector<std::uint8_t>& datagram,
                 const std::string& ip = "10.0.0.5") {
        mirror.add(atUs, ip, datagram.data(), datagram.size());
        takeAll();
    }
    void advance(std::int64_t toUs) {
        mirror.advanceTo(toUs);
        takeAll();
    }
    /// As a link that keeps up does: what is put is taken before anything newer replaces it.
    void takeAll() {
        while (std::optional<Publication> next = outbox.take()) {
            taken.push_back(std::move(*next));
        }
    }
    void ts(std::int64_t atUs, std::uint8_t seq, std::uint8_t point, std::uint8_t flags) {
        receive(atUs,
                sequencedDatagram(1, kAddress, seq, kClassTs, kSubtypeSporadic, {point, 0, flags}));
    }
    void ti(std::int64_t atUs, std::uint8_t seq, std::uint8_t point, float value) {
        const auto bits = std::bit_cast<std::uint32_t>(value);
        receive(atUs, sequencedDatagram(1, kAddress, seq, kClassTi, kSubtypeSporadic,
                                        {point, 0, 0, static_cast<std::uint8_t>(bits),
                                         static_cast<std::uint8_t>(bits >> 8),
                                         static_cast<std::uint8_t>(bits >> 16),
                                         static_cast<std::uint8_t>(bits >> 24)}));
    }
    /// Everything published on `topic` so far.
    std::vector<Publication> published(const std::string& topic) {
        takeAll();
        std::vector<Publication> matching;
        for (const Publication& publication : taken) {
            if (publication.topic == topic) {
                matching.push_back(publication);
            }
        }
        return matching;
    }
    std::vector<std::string> eventKinds() {
        std::vector<std::string> kinds;
        for (const Publication& event : published("site/event")) {
            kinds.push_back(json::parse(event.payload)["kind"]);
        }
        return kinds;
    }

    Outbox outbox;
    BusMirror mirror{outbox, MirrorSettings{"site", 1 * kSecond}};
    std::vector<Publication> taken;
};

TEST_F(Mirror, FirstDatagramPublishesTheDeviceAndItsFirstSeenEvent) {
    ts(kStartUs + 250 * kMs, 7, 3, 1);
    const std::vector<Publication> device = published("site/device/" + kMac);
    ASSERT_EQ(device.size(), 1U);
    EXPECT_TRUE(device[0].retain);
    const json state = json::parse(device[0].payload);
    EXPECT_EQ(state["total"], 1);
    EXPECT_EQ(state["last_sequence"], 7);
    EXPECT_EQ(state["ip"], "10.0.0.5");
    EXPECT_EQ(state["state"], "online");
    EXPECT_EQ(state["last_received"], "2026-12-09T10:00:00.250Z");

    const std::vector<Publication> events = published("site/event");
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].qos, 1);
    EXPECT_FALSE(events[0].retain);
    EXPECT_EQ(json::parse(events[0].payload)["time"], "2026-12-09T10:00:00.250Z");
}

TEST_F(Mirror, DatagramsTheMonitorDropsChangeNothing) {
    std::vector<std::uint8_t> badMagic = sequencedDatagram(1, kAddress, 0, kClassTs, 2, {5, 0, 1});
    badMagic[0] = 0;
    receive(kStartUs, badMagic);
    receive(kStartUs, sequencedDatagram(99, kAddress, 0, kClassTs, 2, {5, 0, 1}));
    receive(kStartUs, {0xFA, 0xCE});
    EXPECT_EQ(outbox.depth(), 0U);
    EXPECT_EQ(mirror.registry().deviceCount(), 0);
}

TEST_F(Mirror, TsIsPublishedOnChangeOnly) {
    ts(kStartUs, 1, 3, 1);
    ts(kStartUs + 100 * kMs, 2, 3, 1);  // the same state again
    ts(kStartUs + 200 * kMs, 3, 3, 0);  // changed: at once, no rate limit for TS
    ts(kStartUs + 300 * kMs, 4, 3, 1);
    std::vector<std::string> states;
    for (const Publication& publication : published("site/ts/3")) {
        states.push_back(json::parse(publication.payload)["state"]);
    }
    EXPECT_EQ(states, (std::vector<std::string>{"вкл", "откл", "вкл"}));
}

TEST_F(Mirror, TiIsRateLimitedAndTheLatestHeldValueFollows) {
    // 1.0 goes out at once; 2.0 and 3.0 come within its second: 3.0 is held and goes out
    // when the second is over, with its own reception time.
    ti(kStartUs, 1, 9, 1.0F);
    ti(kStartUs + 200 * kMs, 2, 9, 2.0F);
    ti(kStartUs + 500 * kMs, 3, 9, 3.0F);
    advance(kStartUs + 999 * kMs);
    EXPECT_EQ(published("site/ti/9").size(), 1U);
    advance(kStartUs + 1000 * kMs);
    const std::vector<Publication> values = published("site/ti/9");
    ASSERT_EQ(values.size(), 2U);
    EXPECT_EQ(json::parse(values[0].payload)["value"], 1.0);
    EXPECT_EQ(json::parse(values[1].payload)["value"], 3.0);
    EXPECT_EQ(json::parse(values[1].payload)["received"], "2026-12-09T10:00:00.500Z");
}

TEST_F(Mirror, TiChangeUndoneWithinTheIntervalIsNotPublished) {
    ti(kStartUs, 1, 9, 1.0F);
    ti(kStartUs + 100 * kMs, 2, 9, 2.0F);
    ti(kStartUs + 200 * kMs, 3, 9, 1.0F);
    advance(kStartUs + 5 * kSecond);
    EXPECT_EQ(published("site/ti/9").size(), 1U);
}

TEST_F(Mirror, EndOfCapturePublishesHeldValues) {
    ti(kStartUs, 1, 9, 1.0F);
    ti(kStartUs + 100 * kMs, 2, 9, 2.0F);
    mirror.flush();
    EXPECT_EQ(published("site/ti/9").size(), 2U);
}

TEST_F(Mirror, SequenceEventsAsTheDeviceTableCountsThem) {
    ts(kStartUs, 10, 1, 0);
    ts(kStartUs + 10 * kMs, 14, 1, 0);  // 11..13 missed
    ts(kStartUs + 20 * kMs, 0, 1, 0);   // restart
    ts(kStartUs + 30 * kMs, 1, 1, 0);   // next in order
    receive(kStartUs + 40 * kMs, sequencedDatagram(1, kAddress, 2, kClassTs, 2, {1, 0, 0}),
            "10.0.0.9");  // moved
    EXPECT_EQ(eventKinds(),
              (std::vector<std::string>{"first_seen", "missed", "restart", "ip_changed"}));
    EXPECT_EQ(json::parse(published("site/event")[1].payload)["count"], 3);
    advance(kStartUs + kSecond);
    const json device = json::parse(published("site/device/" + kMac).back().payload);
    EXPECT_EQ(device["missed"], 1);
    EXPECT_EQ(device["restarts"], 1);
    EXPECT_EQ(device["total"], 5);
    EXPECT_EQ(device["ip"], "10.0.0.9");
}

TEST_F(Mirror, SilenceAndReturnFollowTheBusClock) {
    ts(kStartUs, 1, 1, 0);
    advance(kStartUs + 59 * kSecond);
    EXPECT_EQ(eventKinds(), (std::vector<std::string>{"first_seen"}));
    advance(kStartUs + 60 * kSecond);
    EXPECT_EQ(eventKinds(), (std::vector<std::string>{"first_seen", "silent"}));
    EXPECT_EQ(json::parse(published("site/device/" + kMac).back().payload)["state"], "silent");

    ts(kStartUs + 90 * kSecond, 2, 1, 0);
    EXPECT_EQ(eventKinds(), (std::vector<std::string>{"first_seen", "silent", "returned"}));
    EXPECT_EQ(json::parse(published("site/device/" + kMac).back().payload)["state"], "online");
}

TEST_F(Mirror, DeviceStateIsPublishedOncePerSecondNotPerDatagram) {
    for (int i = 0; i < 100; ++i) {
        ts(kStartUs + i * 5 * kMs, static_cast<std::uint8_t>(i), 1, 0);
    }
    advance(kStartUs + 1 * kSecond);
    const std::vector<Publication> states = published("site/device/" + kMac);
    ASSERT_EQ(states.size(), 2U);  // first seen, then the second's tick
    EXPECT_EQ(json::parse(states[1].payload)["total"], 100);
}

TEST_F(Mirror, AYearLongGapInTheCaptureIsOneStep) {
    ts(kStartUs, 1, 1, 0);
    advance(kStartUs + 365LL * 24 * 3600 * kSecond);
    EXPECT_EQ(eventKinds(), (std::vector<std::string>{"first_seen", "silent"}));
}

}  // namespace
}  // namespace qvlink::bridge
