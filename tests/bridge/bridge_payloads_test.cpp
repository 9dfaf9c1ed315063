#include "bridge/bridge_payloads.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <nlohmann/json.hpp>

namespace qvlink::bridge {
namespace {

using nlohmann::json;

constexpr std::int64_t kNoonUs = 1796810400LL * 1'000'000 + 2 * 3600LL * 1'000'000;

TEST(IsoUtcText, RendersMillisecondsInUtc) {
    struct Row {
        std::int64_t us;
        const char* text;
    };
    const Row rows[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {kNoonUs + 123'999, "2026-12-09T12:00:00.123Z"},  // truncated, not rounded
        {-1, "1969-12-31T23:59:59.999Z"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(isoUtcText(row.us), row.text) << row.us;
    }
}

// The end-to-end broker test checks the common fields; these are the ones that depend on
// the device or the event.
TEST(DevicePayload, StateAndSequenceDependOnTheDevice) {
    TDevice device;
    device.deviceType = 16;
    device.sequenced = true;
    device.lastSeq = 42;
    EXPECT_EQ(json::parse(deviceJson(device, kNoonUs, false))["last_sequence"], 42);
    EXPECT_EQ(json::parse(deviceJson(device, kNoonUs, true))["state"], "silent");

    device.deviceType = 8;  // class-only types carry no sequence number
    device.sequenced = false;
    EXPECT_FALSE(json::parse(deviceJson(device, kNoonUs, false)).contains("last_sequence"));
}

TEST(PointPayload, TsStatesAndTimeTags) {
    setenv("TZ", "UTC", 1);
    tzset();
    struct Row {
        std::uint8_t flags;
        const char* code;
        const char* state;
    };
    const Row rows[] = {
        {0x00, "0", "откл"},
        {0x01, "1", "вкл"},
        {0x04 | 0x02, "10", "вкл"},
        {0x04 | 0x02 | 0x01, "11", "авария"},
    };
    for (const Row& row : rows) {
        TTs entry;
        entry.number = 7;
        entry.flags = row.flags;
        entry.macAddr = "FA:CE:01:00:00:01";
        const json payload = json::parse(tsJson(entry, kNoonUs));
        EXPECT_EQ(payload["code"], row.code) << int{row.flags};
        EXPECT_EQ(payload["state"], row.state) << int{row.flags};
        EXPECT_EQ(payload["flags"], row.flags);
        EXPECT_EQ(payload["number"], 7);
        EXPECT_FALSE(payload.contains("time_tag"));
    }

    TTs tagged;
    tagged.number = 1;
    tagged.flags = kTimeTagFollows;
    tagged.timeTag = TTimeTag{26, 12, 9, 11, 59, 0, 30'250};
    EXPECT_EQ(json::parse(tsJson(tagged, kNoonUs))["time_tag"], "2026-12-09T11:59:30.250Z");
}

TEST(PointPayload, TiValueAsNumberAndAsTheTableShowsIt) {
    struct Row {
        float value;
        json number;
        const char* text;
    };
    const Row rows[] = {
        {1.5F, 1.5, "1,50"},
        {-12.25F, -12.25, "-12,25"},
        {std::numeric_limits<float>::quiet_NaN(), nullptr, "NAN"},
        {-std::numeric_limits<float>::infinity(), nullptr, "-INF"},
    };
    for (const Row& row : rows) {
        TTi entry;
        entry.number = 500;
        entry.value = row.value;
        const json payload = json::parse(tiJson(entry, kNoonUs, FormatSettings{",", ":"}));
        EXPECT_EQ(payload["value"], row.number) << row.text;
        EXPECT_EQ(payload["text"], row.text);
    }
}

TEST(EventPayload, KindSpecificFields) {
    DeviceEvent moved{
        DeviceEventKind::IpChanged, "FA:CE:01:00:00:01", 1, "10.0.0.2", "10.0.0.1", 0, kNoonUs};
    const json payload = json::parse(eventJson(moved));
    EXPECT_EQ(payload["kind"], "ip_changed");
    EXPECT_EQ(payload["previous_ip"], "10.0.0.1");
    EXPECT_FALSE(payload.contains("count"));
}

}  // namespace
}  // namespace qvlink::bridge
