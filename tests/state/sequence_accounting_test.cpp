#include "state/sequence_accounting.h"

#include <gtest/gtest.h>

#include "state/device_registry.h"

namespace qvlink {
namespace {

TPacket packetWithSeq(std::uint8_t deviceType, std::uint8_t seq) {
    TPacket packet;
    packet.deviceType = deviceType;
    packet.sequenced = findDeviceType(deviceType)->sequenced;
    packet.macAddr = "FA:CE:01:00:00:01";
    packet.seq = seq;
    return packet;
}

/// Counters of a device that sent the given sequence numbers.
TDevice afterSequence(std::initializer_list<std::uint8_t> seqs, std::uint8_t deviceType = 1) {
    DeviceRegistry registry([] { return LocalDateTime{}; });
    for (const std::uint8_t seq : seqs) {
        registry.updateDevice("10.0.0.1", packetWithSeq(deviceType, seq));
    }
    TDevice device;
    EXPECT_TRUE(registry.getDevice(1, device));
    return device;
}

TEST(SequenceAccounting, CountsByTheStepBetweenNumbers) {
    const struct {
        const char* name;
        std::initializer_list<std::uint8_t> seqs;
        std::uint16_t missed;
        std::uint16_t restarts;
    } rows[] = {
        {"steps of one", {7, 8, 9}, 0, 0},
        {"jump over one", {7, 9}, 1, 0},
        {"long jump counts one miss", {7, 200}, 1, 0},
        {"fall back to 2 or more", {200, 7}, 0, 0},
        {"fall back to 1 is a restart", {200, 1}, 0, 1},
        {"fall back to 0 is a restart", {200, 0}, 0, 1},
        {"wrap 255 to 0", {255, 0}, 0, 0},
        {"wrap skipping 255", {254, 0}, 1, 0},
        {"wrap skipping 0", {255, 1}, 1, 0},
        {"wrap skipping 0 and 1", {255, 2}, 0, 0},
        {"repeat", {5, 5}, 0, 0},
        {"repeat 0", {0, 0}, 0, 0},
        {"repeat 1", {1, 1}, 0, 0},
        {"step 0 to 1", {0, 1}, 0, 0},
        {"restart from 2", {2, 0}, 0, 1},
        {"restart from 253", {253, 0}, 0, 1},
        {"restart to 1 from 254", {254, 1}, 0, 1},
        {"first datagram counts nothing", {200}, 0, 0},
        {"several events add up", {7, 9, 0, 5, 1}, 2, 2},
    };
    for (const auto& row : rows) {
        const TDevice device = afterSequence(row.seqs);
        EXPECT_EQ(device.missed, row.missed) << row.name;
        EXPECT_EQ(device.restarts, row.restarts) << row.name;
        EXPECT_EQ(device.total, row.seqs.size()) << row.name;
        EXPECT_EQ(device.lastSeq, *(row.seqs.end() - 1)) << row.name;
    }
}

TEST(SequenceAccounting, ClassOnlyTypesNeverCount) {
    for (const std::uint8_t type : {8, 204}) {
        const TDevice device = afterSequence({7, 9, 0, 200, 1}, type);
        EXPECT_EQ(device.missed, 0);
        EXPECT_EQ(device.restarts, 0);
        EXPECT_EQ(device.total, 5U);
    }
}

TEST(SequenceAccounting, MissedWrapsFrom65535ToZero) {
    DeviceRegistry registry([] { return LocalDateTime{}; });
    std::uint8_t seq = 0;
    registry.updateDevice("10.0.0.1", packetWithSeq(1, seq));
    for (int gap = 0; gap < 65536; ++gap) {
        seq = static_cast<std::uint8_t>(seq + 2);  // every step skips one, 254 -> 0 too
        registry.updateDevice("10.0.0.1", packetWithSeq(1, seq));
        if (gap == 65534) {
            TDevice device;
            registry.getDevice(1, device);
            ASSERT_EQ(device.missed, 65535);
        }
    }
    TDevice device;
    registry.getDevice(1, device);
    EXPECT_EQ(device.missed, 0);
    EXPECT_EQ(device.restarts, 0);
}

}  // namespace
}  // namespace qvlink
