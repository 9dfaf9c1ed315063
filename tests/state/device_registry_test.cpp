#include "state/device_registry.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace qvlink {
namespace {

TPacket packetFrom(const std::string& mac, std::uint8_t deviceType = 1, std::uint8_t seq = 0) {
    TPacket packet;
    packet.deviceType = deviceType;
    packet.sequenced = findDeviceType(deviceType)->sequenced;
    packet.macAddr = mac;
    packet.seq = seq;
    return packet;
}

std::string macNumber(int n) {
    char mac[18];
    std::snprintf(mac, sizeof mac, "FA:CE:01:%02X:%02X:%02X", (n >> 16) & 0xFF, (n >> 8) & 0xFF,
                  n & 0xFF);
    return mac;
}

class DeviceRegistryTest : public ::testing::Test {
protected:
    LocalDateTime m_now{2024, 6, 15, 12, 30, 10, 500};
    DeviceRegistry m_registry{[this] { return m_now; }};
};

TEST(DeviceTypeName, NamesTheEightTypesAndNothingElse) {
    EXPECT_EQ(deviceTypeName(1), "Тирон");
    EXPECT_EQ(deviceTypeName(8), "Ларта-Т");
    EXPECT_EQ(deviceTypeName(16), "Ларта-К");
    EXPECT_EQ(deviceTypeName(17), "Ровен-8");
    EXPECT_EQ(deviceTypeName(18), "Ларта-К");
    EXPECT_EQ(deviceTypeName(33), "Ведра");
    EXPECT_EQ(deviceTypeName(34), "Ведра");
    EXPECT_EQ(deviceTypeName(204), "Ларта-С");
    for (const std::uint8_t code : {0, 2, 9, 15, 19, 32, 35, 203, 205, 255}) {
        EXPECT_EQ(deviceTypeName(code), "") << int{code};
    }
}

TEST_F(DeviceRegistryTest, FirstDatagramCreatesEntryWithItsSequenceNumber) {
    m_registry.updateDevice("10.0.0.7", packetFrom("FA:CE:10:0A:00:3C", 16, 200));
    TDevice device;
    ASSERT_TRUE(m_registry.getDevice(1, device));
    EXPECT_EQ(device.deviceType, 16);
    EXPECT_TRUE(device.sequenced);
    EXPECT_EQ(device.macAddr, "FA:CE:10:0A:00:3C");
    EXPECT_EQ(device.ipAddr, "10.0.0.7");
    EXPECT_EQ(device.lastSeq, 200);
    EXPECT_EQ(device.total, 1U);
    EXPECT_EQ(device.timeout, 0U);
    EXPECT_EQ(device.lastReceived, m_now);
}

TEST_F(DeviceRegistryTest, LookUpsOutsideTheRegistryLeaveTheOutputUntouched) {
    m_registry.updateDevice("10.0.0.1", packetFrom(macNumber(1)));
    m_registry.updateDevice("10.0.0.2", packetFrom(macNumber(2)));
    TDevice device;
    device.ipAddr = "sentinel";
    EXPECT_FALSE(m_registry.getDevice(0, device));
    EXPECT_FALSE(m_registry.getDevice(3, device));
    EXPECT_FALSE(m_registry.getDevice(-1, device));
    EXPECT_FALSE(m_registry.findDeviceByMac("fa:ce:01:00:00:01", device));  // case matters
    EXPECT_FALSE(m_registry.findDeviceByMac(macNumber(1) + " ", device));
    EXPECT_EQ(device.ipAddr, "sentinel");
    EXPECT_EQ(m_registry.indexOfDevice("FA:CE:01:00:00:03"), -1);

    ASSERT_TRUE(m_registry.getDevice(1, device));
    EXPECT_EQ(device.ipAddr, "10.0.0.1");
    ASSERT_TRUE(m_registry.findDeviceByMac(macNumber(2), device));
    EXPECT_EQ(device.ipAddr, "10.0.0.2");
    EXPECT_EQ(m_registry.indexOfDevice(macNumber(2)), 1);
}

TEST_F(DeviceRegistryTest, SameMacFromNewAddressUpdatesOneEntry) {
    m_registry.updateDevice("10.0.0.1", packetFrom(macNumber(1), 1, 4));
    m_registry.incDeviceTimeout(0);
    m_registry.incDeviceTimeout(0);
    m_now.second = 42;
    m_registry.updateDevice("192.168.1.20", packetFrom(macNumber(1), 1, 5));
    EXPECT_EQ(m_registry.deviceCount(), 1);
    TDevice device;
    ASSERT_TRUE(m_registry.getDevice(1, device));
    EXPECT_EQ(device.ipAddr, "192.168.1.20");
    EXPECT_EQ(device.total, 2U);
    EXPECT_EQ(device.timeout, 0U);
    EXPECT_EQ(device.lastReceived.second, 42);
}

TEST_F(DeviceRegistryTest, AgesOnlyTheIndexedDevice) {
    m_registry.updateDevice("10.0.0.1", packetFrom(macNumber(1)));
    m_registry.updateDevice("10.0.0.2", packetFrom(macNumber(2)));
    m_registry.incDeviceTimeout(1);
    m_registry.incDeviceTimeout(2);   // ignored
    m_registry.incDeviceTimeout(-1);  // ignored
    TDevice first;
    TDevice second;
    m_registry.getDevice(1, first);
    m_registry.getDevice(2, second);
    EXPECT_EQ(first.timeout, 0U);
    EXPECT_EQ(second.timeout, 1U);
}

TEST_F(DeviceRegistryTest, NewDeviceBeyond32768LeavesRegistryUnchanged) {
    for (int n = 0; n < DeviceRegistry::kMaxDevices; ++n) {
        m_registry.updateDevice("10.0.0.1", packetFrom(macNumber(n)));
    }
    ASSERT_EQ(m_registry.deviceCount(), 32768);
    m_registry.updateDevice("10.0.0.9", packetFrom(macNumber(40000)));
    EXPECT_EQ(m_registry.deviceCount(), 32768);
    EXPECT_EQ(m_registry.indexOfDevice(macNumber(40000)), -1);

    // Known devices are still updated.
    m_registry.updateDevice("10.0.0.9", packetFrom(macNumber(32767)));
    TDevice last;
    ASSERT_TRUE(m_registry.getDevice(32768, last));
    EXPECT_EQ(last.macAddr, macNumber(32767));
    EXPECT_EQ(last.ipAddr, "10.0.0.9");
    EXPECT_EQ(last.total, 2U);
    EXPECT_EQ(m_registry.indexOfDevice(macNumber(32767)), 32767);
}

}  // namespace
}  // namespace qvlink
