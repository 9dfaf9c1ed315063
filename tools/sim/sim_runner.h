#pragma once

// Runs the simulation live: the devices' sockets, the pacing of normal and load traffic,
// and the reactions to the monitor's commands, in one thread around poll().

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "command_listener.h"
#include "device_socket.h"
#include "http_server.h"
#include "sim_config.h"
#include "simulation.h"

namespace qvlink::sim {

class SimRunner {
public:
    /// Opens every device's socket and web server and the command listener, and logs how
    /// commands are heard. Throws SimError with the reason when a device cannot send.
    SimRunner(const SimConfig& config, LogSink log);

    /// Sends until `stop` is set or the configured duration has passed.
    void run(const std::atomic<bool>& stop);

    /// The per-device table, plus the measured rate in load mode.
    std::string summary() const;

private:
    using SteadyClock = std::chrono::steady_clock;

    SimMillis elapsed() const;
    /// Load mode connects the devices' sockets to the target; normal traffic does not, so
    /// that a target without a listener raises no errors.
    const sockaddr_in* loadPeer() const;
    void sendLoad();
    void reportLoadRate(SimMillis now);
    void waitForEvents(int timeoutMs);
    void handleCommand(std::span<const std::uint8_t> datagram);
    void changeIp(std::size_t device, const std::string& ip);
    void handleExchange(const HttpExchange& exchange);
    void noteSendFailure(std::size_t device, int error);

    SimConfig m_config;
    LogSink m_log;
    Simulation m_simulation;
    sockaddr_in m_target{};
    std::vector<DeviceSocket> m_sockets;
    HttpServer m_http;
    OpenedListener m_listener;
    BatchSender m_batch;
    DatagramSink m_sendNow;
    DatagramSink m_queue;
    SteadyClock::time_point m_start;
    SimMillis m_stoppedAt = 0;
    std::vector<pollfd> m_pollFds;

    std::uint64_t m_sendFailures = 0;
    std::vector<std::uint8_t> m_lastCommand;
    SimMillis m_lastCommandAt = 0;

    std::uint64_t m_loadSent = 0;       ///< datagrams built for the schedule
    std::uint64_t m_loadDelivered = 0;  ///< of them, accepted by the system
    std::uint64_t m_loadForgiven = 0;   ///< datagrams dropped from the schedule after stalls
    std::size_t m_loadTurn = 0;
    SimMillis m_lastRateReport = 0;
    std::uint64_t m_deliveredAtLastReport = 0;
};

}  // namespace qvlink::sim
