#pragma once

// The simulated bus: every device's traffic, the scenarios and the reactions to commands,
// driven by a caller-supplied time so that tests run it on a virtual clock.

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "datagram_writer.h"
#include "sim_config.h"
#include "sim_device.h"

namespace qvlink::sim {

/// Receives every datagram a device sends, with the device's position.
using DatagramSink =
    std::function<void(std::size_t device, std::span<const std::uint8_t> datagram)>;
/// Receives one log line (without line end).
using LogSink = std::function<void(const std::string& line)>;

/// "   12.300  " + text: the log line of an event at `at`.
std::string logLine(SimMillis at, std::string_view text);

class Simulation {
public:
    /// Step of the process and of every schedule.
    static constexpr SimMillis kTickMs = 100;

    /// `clock` gives the time put into time tags and time messages.
    Simulation(const SimConfig& config, Clock clock, LogSink log);

    /// Runs every tick due up to `now`, handing each datagram to `sink`. In load mode
    /// (a rate is set) ticks only bring quiet devices back; the traffic is emitLoad's.
    void advanceTo(SimMillis now, const DatagramSink& sink);
    SimMillis nextTickAt() const { return m_nextTick; }

    /// Load mode: up to `count` datagrams of `device`, a round at a time: its cyclic report
    /// chunks, then (sequenced types) a sporadic TS and a sporadic TI report with time tags,
    /// then a time message, every fourth round a text message instead (class-only types: their
    /// TS and TI datagrams, then a time setting). Nothing while the device is quiet. Returns
    /// how many were emitted.
    int emitLoad(std::size_t device, int count, const DatagramSink& sink);

    std::size_t deviceCount() const { return m_devices.size(); }
    const SimDevice& device(std::size_t index) const { return m_devices[index]; }
    /// Position of the device with this MAC text (letter case ignored), or -1.
    int indexOfMac(std::string_view macText) const;

    /// The device sends from `ip` from now on.
    void changeIp(std::size_t device, const std::string& ip, SimMillis now);
    /// A firmware-update request: the device goes quiet and comes back restarted.
    void startReprogramming(std::size_t device, SimMillis now);

    void log(SimMillis at, const std::string& text) const;
    void logDevice(SimMillis at, std::size_t device, const std::string& text) const;
    /// One line per device: what it was set up as.
    void logStart() const;
    /// The per-device table printed on exit.
    std::string summary(SimMillis elapsed) const;

private:
    void tick(SimMillis now, const DatagramSink& sink);
    void runScenarios(SimMillis now, const DatagramSink& sink);
    void wake(std::size_t index, SimMillis now, const DatagramSink& sink);
    void sendSporadic(std::size_t index, const TTimeTag& tag, const DatagramSink& sink);
    void sendCyclic(std::size_t index, const DatagramSink& sink);
    void sendMessages(std::size_t index, SimMillis now, const TTimeTag& tag,
                      const DatagramSink& sink);
    void sendMalformed(SimMillis now, const DatagramSink& sink);
    void startSilence(SimMillis now);
    std::size_t cyclicChunkCount(const SimDevice& device) const;
    void writeCyclicChunk(std::size_t index, std::size_t chunk);
    void writeLoadDatagram(std::size_t index, std::size_t turn, const TTimeTag& tag);
    void writeLoadSporadic(std::size_t index, bool ts, const TTimeTag& tag);
    void writeTimeMessage(const SimDevice& device, const TTimeTag& tag);
    void writeTextMessage(SimDevice& device);
    void writeClassOnlyTs(const SimDevice& device);
    void emit(std::size_t index, const DatagramSink& sink);
    void sendTimeMessage(std::size_t index, const TTimeTag& tag, const DatagramSink& sink);

    SimConfig m_config;
    Clock m_clock;
    LogSink m_log;
    std::vector<SimDevice> m_devices;
    Random m_random;
    DatagramWriter m_writer;
    std::vector<std::size_t> m_changedTs;
    std::vector<std::size_t> m_changedTi;
    SimMillis m_nextTick = 0;
    SimMillis m_cycleMs;
    SimMillis m_nextSilence;
    SimMillis m_nextMalformed;
    std::size_t m_silenceTurn = 0;
    std::size_t m_malformedTurn = 0;
};

}  // namespace qvlink::sim
