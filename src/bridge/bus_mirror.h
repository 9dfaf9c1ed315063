#pragma once

// The bus as the bridge publishes it: the monitor's own device registry and point tables,
// fed with capture times, turned into retained device and point values and device events.
// Time moves with the captured datagrams and with advanceTo, so a capture file replays
// with the ages, silences and rate limits it had on the bus.

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "bridge/outbox.h"
#include "common/bus_types.h"
#include "state/device_registry.h"
#include "state/teleparam_tables.h"

namespace qvlink::bridge {

struct MirrorSettings {
    std::string prefix;                     ///< topic prefix, without a trailing "/"
    std::int64_t tiIntervalUs = 1'000'000;  ///< shortest time between two values of a TI point
};

class BusMirror {
public:
    BusMirror(Outbox& outbox, MirrorSettings settings);
    BusMirror(const BusMirror&) = delete;
    BusMirror& operator=(const BusMirror&) = delete;

    /// Takes one datagram captured at `timeUs` (microseconds since 1970 UTC) from `senderIp`
    /// (dotted decimal). One the monitor would drop changes nothing.
    void add(std::int64_t timeUs, const std::string& senderIp, const std::uint8_t* data,
             std::size_t size);
    /// Moves the bus clock to `nowUs` (never back): every whole second passed ages the
    /// devices as the monitor's refresh does and publishes the devices changed since the last
    /// one; TI values held back by the rate limit go out once their interval has passed.
    void advanceTo(std::int64_t nowUs);
    /// Publishes every change still held back, as at the end of a capture.
    void flush();

    const DeviceRegistry& registry() const { return m_registry; }

private:
    struct DeviceTrack {
        std::int64_t lastUs = 0;
        bool changed = false;
    };
    struct PointTrack {
        bool published = false;
        bool held = false;  ///< a change waits for the TI rate limit
        std::uint8_t flags = 0;
        std::uint32_t valueBits = 0;
        std::string mac;
        std::int64_t publishedUs = 0;
        TTi heldItem;
        std::int64_t heldUs = 0;
    };

    void setStamp(std::int64_t timeUs);
    void onEvent(const DeviceEvent& event);
    void onTs(const TTs& item);
    void onTi(const TTi& item);
    void publishTi(const TTi& item, std::int64_t receivedUs, PointTrack& track);
    void releaseHeldTi(bool all);
    void ageDevices();
    void publishDevice(int index);
    /// Publishes the devices with an event since the last call and, unless `eventsOnly`,
    /// every device changed since.
    void publishDevices(bool eventsOnly);
    std::string topic(const std::string& path) const;

    Outbox& m_outbox;
    MirrorSettings m_settings;
    std::int64_t m_nowUs = 0;    ///< the bus clock
    std::int64_t m_stampUs = 0;  ///< time of what is being handled: a datagram or a tick
    std::time_t m_localSecond = -1;
    LocalDateTime m_localTime;
    std::int64_t m_nextTickUs = 0;  ///< 0 until the first datagram
    DeviceRegistry m_registry;
    TeleparamTables m_tables;
    TPacket m_packet;
    std::vector<DeviceTrack> m_devices;  ///< in registry order
    std::vector<int> m_urgent;           ///< devices with an event since the last publication
    std::array<PointTrack, kPointCount + 1> m_ts{};
    std::array<PointTrack, kPointCount + 1> m_ti{};
    std::vector<std::uint16_t> m_heldTi;
};

}  // namespace qvlink::bridge
