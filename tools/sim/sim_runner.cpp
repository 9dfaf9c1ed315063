#include "sim_runner.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/clock.h"
#include "set_ip_command.h"
#include "sim_error.h"
#include "sim_options.h"

namespace qvlink::sim {
namespace {

/// A capture on "any" sees loopback traffic twice; a repeat this soon is the same command.
constexpr SimMillis kDuplicateWindowMs = 1000;
/// Longest wait of the loop, so that a stop request is seen promptly.
constexpr SimMillis kMaxWaitMs = 100;
/// Load mode sends at most this long before looking at commands again.
constexpr auto kLoadBurst = std::chrono::milliseconds(5);
/// After a stall, load mode catches up at most this share of a second's datagrams.
constexpr std::uint64_t kLoadBacklogDivisor = 20;

SimMillis toMillis(double seconds) {
    return static_cast<SimMillis>(seconds * 1000.0);
}

bool isPowerOfTen(std::uint64_t n) {
    while (n >= 10 && n % 10 == 0) {
        n /= 10;
    }
    return n == 1;
}

}  // namespace

SimRunner::SimRunner(const SimConfig& config, LogSink log)
    : m_config(config),
      m_log(std::move(log)),
      m_simulation(config, systemLocalTime, m_log),
      m_target(resolveIpv4(config.target, config.port)),
      m_http(config.httpPort),
      m_batch(m_target),
      m_start(SteadyClock::now()) {
    const std::size_t count = m_simulation.deviceCount();
    m_sockets.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        try {
            m_sockets.emplace_back(m_simulation.device(i).ip, config.sourcePort, loadPeer());
        } catch (const SimError& error) {
            throw SimError("device " + m_simulation.device(i).label() + ": " + error.what());
        }
    }
    m_listener = openCommandListener(config.listen, config.listenPort, config.pcapInterface,
                                     config.captureHelper);

    std::size_t httpFailures = 0;
    std::string firstHttpError;
    for (std::size_t i = 0; i < count; ++i) {
        std::string error;
        if (!m_http.listen(i, m_simulation.device(i).ip, error) && httpFailures++ == 0) {
            firstHttpError = error;
        }
    }

    const std::string targetText = config.target + ":" + std::to_string(config.port);
    std::string start = "qvlink-sim: " + std::to_string(count) + " devices, " +
                        m_simulation.device(0).ip + " to " + m_simulation.device(count - 1).ip +
                        ", sending to " + targetText;
    if (config.rate > 0) {
        start += ", load mode at " + std::to_string(config.rate) + " datagrams/s";
    }
    m_simulation.log(0, start);
    m_simulation.log(0, "listen mode " + std::string(listenModeText(m_listener.mode)) + ": " +
                            m_listener.description);
    const std::string httpPort = std::to_string(config.httpPort);
    m_simulation.log(
        0,
        httpFailures == 0
            ? "firmware update requests heard on TCP port " + httpPort + " of each device address"
            : "firmware update requests: " + std::to_string(httpFailures) + " of " +
                  std::to_string(count) + " devices cannot listen (first: " + firstHttpError + ")");
    m_simulation.logStart();

    m_sendNow = [this](std::size_t device, std::span<const std::uint8_t> datagram) {
        if (!m_sockets[device].sendTo(m_target, datagram)) {
            noteSendFailure(device, errno);
        }
    };
    m_queue = [this](std::size_t, std::span<const std::uint8_t> datagram) {
        m_batch.add(datagram);
    };
}

const sockaddr_in* SimRunner::loadPeer() const {
    return m_config.rate > 0 ? &m_target : nullptr;
}

SimMillis SimRunner::elapsed() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - m_start)
        .count();
}

void SimRunner::run(const std::atomic<bool>& stop) {
    m_start = SteadyClock::now();
    const SimMillis duration = toMillis(m_config.durationSeconds);
    while (!stop.load(std::memory_order_relaxed)) {
        const SimMillis now = elapsed();
        if (duration > 0 && now >= duration) {
            break;
        }
        m_simulation.advanceTo(now, m_sendNow);
        int timeout = 0;
        if (m_config.rate > 0) {
            sendLoad();
            reportLoadRate(now);
            timeout = 1;
        } else {
            timeout = static_cast<int>(
                std::clamp<SimMillis>(m_simulation.nextTickAt() - elapsed(), 0, kMaxWaitMs));
        }
        waitForEvents(timeout);
    }
    m_stoppedAt = elapsed();
}

void SimRunner::sendLoad() {
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - m_start).count();
    auto due = static_cast<std::uint64_t>(static_cast<double>(m_config.rate) * seconds);
    due = due > m_loadForgiven ? due - m_loadForgiven : 0;
    const std::uint64_t backlog =
        std::max<std::uint64_t>(m_config.rate / kLoadBacklogDivisor, BatchSender::kCapacity);
    if (due > m_loadSent + backlog) {
        m_loadForgiven += due - m_loadSent - backlog;
        due = m_loadSent + backlog;
    }
    const auto burstEnd = SteadyClock::now() + kLoadBurst;
    const std::size_t devices = m_sockets.size();
    std::size_t quietInARow = 0;
    while (m_loadSent < due && quietInARow < devices && SteadyClock::now() < burstEnd) {
        const std::size_t device = m_loadTurn++ % devices;
        const auto want =
            static_cast<int>(std::min<std::uint64_t>(BatchSender::kCapacity, due - m_loadSent));
        const int made = m_simulation.emitLoad(device, want, m_queue);
        if (made == 0) {
            ++quietInARow;
            continue;
        }
        quietInARow = 0;
        int error = 0;
        const std::size_t sent = m_batch.flush(m_sockets[device], error);
        if (error != 0) {
            noteSendFailure(device, error);
        }
        m_loadSent += static_cast<std::uint64_t>(made);
        m_loadDelivered += sent;
    }
}

void SimRunner::reportLoadRate(SimMillis now) {
    if (now - m_lastRateReport < 1000) {
        return;
    }
    const double rate = static_cast<double>(m_loadDelivered - m_deliveredAtLastReport) * 1000.0 /
                        static_cast<double>(now - m_lastRateReport);
    char text[128];
    std::snprintf(text, sizeof text, "load: %.0f datagrams/s (asked %llu)", rate,
                  static_cast<unsigned long long>(m_config.rate));
    m_simulation.log(now, text);
    m_lastRateReport = now;
    m_deliveredAtLastReport = m_loadDelivered;
}

void SimRunner::waitForEvents(int timeoutMs) {
    m_pollFds.clear();
    if (m_listener.listener) {
        m_pollFds.push_back({m_listener.listener->pollFd(), POLLIN, 0});
    }
    m_http.appendPollFds(m_pollFds);
    ::poll(m_pollFds.data(), m_pollFds.size(), timeoutMs);
    std::span<const pollfd> fds(m_pollFds);
    if (m_listener.listener) {
        if (fds[0].revents != 0) {
            m_listener.listener->drain(
                [this](std::span<const std::uint8_t> datagram) { handleCommand(datagram); });
        }
        fds = fds.subspan(1);
    }
    m_http.service(fds, SteadyClock::now(),
                   [this](const HttpExchange& exchange) { handleExchange(exchange); });
}

void SimRunner::handleCommand(std::span<const std::uint8_t> datagram) {
    SetIpCommand command;
    if (!parseSetIpCommand(datagram, command)) {
        return;  // bus traffic on the same port, not a command
    }
    const SimMillis now = elapsed();
    if (std::ranges::equal(datagram, m_lastCommand) && now - m_lastCommandAt < kDuplicateWindowMs) {
        return;
    }
    m_lastCommand.assign(datagram.begin(), datagram.end());
    m_lastCommandAt = now;

    const int device = m_simulation.indexOfMac(command.macText);
    m_simulation.log(now, "change-IP command (sequence " + std::to_string(command.seq) + ") for " +
                              command.macText + " to " + command.ipText +
                              (device < 0 ? ": not one of ours, ignored" : ""));
    if (device >= 0) {
        changeIp(static_cast<std::size_t>(device), command.ipText);
    }
}

void SimRunner::changeIp(std::size_t device, const std::string& ip) {
    const SimMillis now = elapsed();
    const std::string current = m_simulation.device(device).ip;
    if (ip == current) {
        m_simulation.logDevice(now, device, "already has the address " + ip);
        return;
    }
    try {
        m_sockets[device] = DeviceSocket(ip, m_config.sourcePort, loadPeer());
    } catch (const SimError& error) {
        m_simulation.logDevice(
            now, device,
            "cannot take the address (" + std::string(error.what()) + "), keeps " + current);
        return;
    }
    std::string error;
    if (!m_http.listen(device, ip, error)) {
        m_simulation.logDevice(now, device, "firmware update requests not heard: " + error);
    }
    m_simulation.changeIp(device, ip, now);
}

void SimRunner::handleExchange(const HttpExchange& exchange) {
    const SimMillis now = elapsed();
    const std::string outcome = exchange.status == 0
                                    ? "closed before a whole request arrived"
                                    : "answered " + std::to_string(exchange.status);
    m_simulation.logDevice(now, exchange.device,
                           "HTTP " + exchange.request + " from " + exchange.peer + ": " + outcome);
    if (exchange.reprog) {
        m_simulation.startReprogramming(exchange.device, now);
    }
}

void SimRunner::noteSendFailure(std::size_t device, int error) {
    ++m_sendFailures;
    if (isPowerOfTen(m_sendFailures)) {
        m_simulation.logDevice(elapsed(), device,
                               "send failed: " + std::string(std::strerror(error)) + " (" +
                                   std::to_string(m_sendFailures) + " failures so far)");
    }
}

std::string SimRunner::summary() const {
    std::string out = m_simulation.summary(m_stoppedAt);
    if (m_sendFailures > 0) {
        out += "send failures: " + std::to_string(m_sendFailures) + "\n";
    }
    if (m_config.rate > 0 && m_stoppedAt > 0) {
        char text[160];
        std::snprintf(
            text, sizeof text, "load: %llu datagrams in %.1f s = %.0f datagrams/s (asked %llu)\n",
            static_cast<unsigned long long>(m_loadDelivered),
            static_cast<double>(m_stoppedAt) / 1000.0,
            static_cast<double>(m_loadDelivered) * 1000.0 / static_cast<double>(m_stoppedAt),
            static_cast<unsigned long long>(m_config.rate));
        out += text;
    }
    return out;
}

}  // namespace qvlink::sim
