#include "command_watch/command_watch.h"

#include <algorithm>
#include <utility>

namespace qvlink {
namespace {

constexpr std::int64_t kWatchMs = std::int64_t{kCommandWatchSeconds} * 1000;
const char* const kAfterFirmwareCommand = " после команды обновления ПО";

}  // namespace

CommandWatch::CommandWatch(DeviceRegistry& registry, ElapsedClock elapsed, FormatSettings format,
                           Report report)
    : m_registry(registry),
      m_elapsed(std::move(elapsed)),
      m_format(std::move(format)),
      m_report(std::move(report)) {
    m_registry.events().subscribe([this](const DeviceEvent& event) { onEvent(event); });
}

void CommandWatch::expectAddress(const std::string& mac, const std::string& ip) {
    begin({Expectation::Address, mac, ip, m_elapsed()});
}

void CommandWatch::expectFirmwareRestart(const std::string& mac) {
    begin({Expectation::FirmwareRestart, mac, {}, m_elapsed()});
}

void CommandWatch::begin(Watch watch) {
    std::erase_if(m_watches, [&](const Watch& w) { return w.mac == watch.mac; });
    m_watches.push_back(std::move(watch));
}

void CommandWatch::onEvent(const DeviceEvent& event) {
    const auto settled =
        std::ranges::find_if(m_watches, [&](const Watch& watch) { return settles(watch, event); });
    if (settled == m_watches.end()) {
        return;
    }
    const std::string text = successText(*settled, m_elapsed());
    m_watches.erase(settled);
    m_report(text);
}

// Any datagram from the new address settles the change, whatever else it tells: it may be the
// device's first after a restart or after a silence. Silent carries the old address.
bool CommandWatch::settles(const Watch& watch, const DeviceEvent& event) {
    if (event.mac != watch.mac) {
        return false;
    }
    if (watch.expectation == Expectation::FirmwareRestart) {
        return event.kind == DeviceEventKind::Restart;
    }
    return event.kind != DeviceEventKind::Silent && event.ip == watch.ip;
}

void CommandWatch::tick() {
    const std::int64_t nowMs = m_elapsed();
    std::vector<Watch> due;
    std::erase_if(m_watches, [&](Watch& watch) {
        if (nowMs - watch.startMs < kWatchMs) {
            return false;
        }
        due.push_back(std::move(watch));
        return true;
    });
    for (const Watch& watch : due) {
        m_report(timeoutText(watch));
    }
}

std::string CommandWatch::successText(const Watch& watch, std::int64_t nowMs) const {
    const std::string seconds =
        fixedText(static_cast<double>(nowMs - watch.startMs) / 1000.0, 1, m_format) + " с";
    if (watch.expectation == Expectation::Address) {
        return watch.mac + " отвечает с " + watch.ip + " через " + seconds;
    }
    return watch.mac + " перезапустился через " + seconds + kAfterFirmwareCommand;
}

std::string CommandWatch::timeoutText(const Watch& watch) const {
    const std::string seconds = std::to_string(kCommandWatchSeconds) + " с";
    if (watch.expectation == Expectation::Address) {
        return watch.mac + " не появился с адресом " + watch.ip + " за " + seconds;
    }
    TDevice device;
    if (m_registry.findDeviceByMac(watch.mac, device) && device.timeout >= kFirmwareQuietSeconds) {
        return watch.mac + " молчит " + std::to_string(device.timeout) + " с" +
               kAfterFirmwareCommand;
    }
    return watch.mac + " не перезапустился и не замолчал за " + seconds + kAfterFirmwareCommand;
}

}  // namespace qvlink
