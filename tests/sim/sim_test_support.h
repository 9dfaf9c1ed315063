#pragma once

// A simulation on a virtual clock whose traffic goes straight into the monitor's own
// reception checks, registry and tables.

#include <cstdint>
#include <functional>
#include <vector>

#include "common/bus_types.h"
#include "protocol/items.h"
#include "protocol/packets.h"
#include "simulation.h"
#include "state/device_registry.h"
#include "state/teleparam_tables.h"

namespace qvlink::sim::test {

inline constexpr LocalDateTime kFixedNow{2024, 6, 15, 12, 30, 10, 250};

inline Clock fixedClock() {
    return [] { return kFixedNow; };
}

struct SentDatagram {
    SimMillis at = 0;
    std::size_t device = 0;
    std::vector<std::uint8_t> bytes;
};

class SimulatedBus {
public:
    explicit SimulatedBus(const SimConfig& config)
        : simulation(config, fixedClock(), [](const std::string&) {}),
          registry(fixedClock()),
          tables(fixedClock()),
          maxAge(simulation.deviceCount(), 0) {}

    /// Runs the simulation tick by tick up to `end`; every datagram that passes the
    /// reception checks is registered and its items stored, and once a virtual second the
    /// registry ages its devices as the monitor's refresh does.
    void runUntil(SimMillis end) {
        for (; m_now <= end; m_now += Simulation::kTickMs) {
            simulation.advanceTo(
                m_now, [this](std::size_t device, auto bytes) { receive(device, bytes); });
            if (m_now % 1000 == 0) {
                age();
                if (onSecond) {
                    onSecond();
                }
            }
        }
    }

    /// The registry's entry of simulated device `device`.
    TDevice registered(std::size_t device) const {
        TDevice entry;
        registry.findDeviceByMac(simulation.device(device).macText, entry);
        return entry;
    }

    /// The virtual clock: the tick being run.
    SimMillis now() const { return m_now; }

    Simulation simulation;
    /// Runs after the ages of each virtual second, as the monitor's refresh goes on.
    std::function<void()> onSecond;
    DeviceRegistry registry;
    TeleparamTables tables;
    std::vector<SentDatagram> sent;
    std::vector<std::uint32_t> maxAge;  ///< highest age each device reached, in seconds

private:
    void receive(std::size_t device, std::span<const std::uint8_t> bytes) {
        sent.push_back({m_now, device, {bytes.begin(), bytes.end()}});
        TPacket packet;
        if (classifyDatagram(bytes.data(), bytes.size()) != DatagramVerdict::Accepted ||
            !parsePacket(bytes.data(), bytes.size(), packet)) {
            return;
        }
        registry.updateDevice(simulation.device(device).ip, packet);
        if (packet.sequenced) {
            processTsPacket(packet, tables);
            processTiPacket(packet, tables);
        }
    }

    void age() {
        for (std::size_t i = 0; i < simulation.deviceCount(); ++i) {
            const int index = registry.indexOfDevice(simulation.device(i).macText);
            if (index >= 0) {
                registry.incDeviceTimeout(index);
                maxAge[i] = std::max(maxAge[i], registered(i).timeout);
            }
        }
    }

    SimMillis m_now = 0;
};

}  // namespace qvlink::sim::test
