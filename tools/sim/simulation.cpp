#include "simulation.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/cp1251.h"
#include "common/dotted_quad.h"
#include "malformed.h"

namespace qvlink::sim {
namespace {

constexpr SimMillis kFirstSilenceMs = 15000;
constexpr SimMillis kTimeMessageEveryMs = 60000;
constexpr double kTextMeanMs = 90000.0;
constexpr double kSilenceRequestMeanMs = 300000.0;
/// Requested quiet time carried by a silence request, in seconds.
constexpr std::uint16_t kSilenceRequestSeconds = 60;

/// Local signals of a class-only device, reported in its own classes.
constexpr std::uint16_t kClassOnlyTsCount = 16;
constexpr std::uint16_t kClassOnlyTiCount = 4;

constexpr std::size_t kTsItemsPerDatagram = kMaxPayload / kTsItemSize;
constexpr std::size_t kTiItemsPerDatagram = kMaxPayload / kTiItemSize;
/// Load mode: datagrams of a sequenced device's round beside its cyclic chunks (sporadic TS,
/// sporadic TI, a message), items of a sporadic report at most, and the rounds that end in a
/// text message instead of a time message.
constexpr std::size_t kLoadExtraTurns = 3;
constexpr std::size_t kLoadSporadicItems = 8;
constexpr std::size_t kLoadTextEvery = 4;

/// Operator messages a controller sends as text, in UTF-8 (sent as Windows-1251).
constexpr std::array<const char*, 5> kTexts{
    "Дверь шкафа открыта",
    "Питание от резервного ввода",
    "Связь с контроллером восстановлена",
    "Перегрев трансформатора",
    "Проверка каналов ТС завершена",
};

SimMillis toMillis(double seconds) {
    return std::llround(seconds * 1000.0);
}

std::size_t chunksOf(std::size_t items, std::size_t perChunk) {
    return (items + perChunk - 1) / perChunk;
}

/// The points 1..500 that sequenced device `position` (0-based) of `devices` owns.
PointRange pointShare(std::size_t position, std::size_t devices) {
    const std::size_t first = position * kPointCount / devices;
    const std::size_t end = (position + 1) * kPointCount / devices;
    return {static_cast<std::uint16_t>(first + 1), static_cast<std::uint16_t>(end - first)};
}

std::string rangeText(const char* what, PointRange range) {
    if (range.count == 0) {
        return std::string("no ") + what;
    }
    return std::string(what) + " " + std::to_string(range.first) + "-" +
           std::to_string(range.last());
}

}  // namespace

std::string logLine(SimMillis at, std::string_view text) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f  ", static_cast<double>(at) / 1000.0);
    return stamp + std::string(text);
}

Simulation::Simulation(const SimConfig& config, Clock clock, LogSink log)
    : m_config(config),
      m_clock(std::move(clock)),
      m_log(std::move(log)),
      m_random(config.seed),
      m_cycleMs(std::max(kTickMs, toMillis(config.cycleSeconds))),
      m_nextSilence(kFirstSilenceMs),
      m_nextMalformed(toMillis(config.malformedEverySeconds)) {
    const std::vector<std::uint8_t> types = deviceTypeMix(config.deviceCount, config.types);
    const auto sequencedCount =
        static_cast<std::size_t>(std::count_if(types.begin(), types.end(), [](std::uint8_t type) {
            return findDeviceType(type)->sequenced;
        }));
    const std::uint32_t baseIp = parseDottedQuad(config.baseIp).value_or(0x7F00000B);
    const auto count = types.size();
    const SimMillis restartMs = toMillis(config.restartEverySeconds);

    std::size_t sequencedPosition = 0;
    m_devices.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const DeviceTypeInfo* info = findDeviceType(types[i]);
        PointRange ts{1, kClassOnlyTsCount};
        PointRange ti{1, kClassOnlyTiCount};
        if (info->sequenced) {
            ts = ti = pointShare(sequencedPosition++, sequencedCount);
        }
        std::seed_seq seeds{config.seed, static_cast<std::uint64_t>(i)};
        Random random(seeds);
        SignalModel signals(ts, ti, random);
        const int number = static_cast<int>(i) + 1;
        const DeviceIdentity identity = makeIdentity(info->code, number);
        const auto stagger = static_cast<SimMillis>(i);
        const auto spread = static_cast<SimMillis>(count);
        m_devices.push_back(SimDevice{
            .number = number,
            .identity = identity,
            .info = info,
            .macText = identity.macText(),
            .ip = dottedQuadText(baseIp + static_cast<std::uint32_t>(i)),
            .tsRange = ts,
            .tiRange = ti,
            .random = random,
            .signals = std::move(signals),
            .sequence = {},
            .stats = {},
            .nextCyclic = stagger * m_cycleMs / spread,
            .nextTime = (stagger + 1) * kTimeMessageEveryMs / spread,
            .nextRestart = restartMs + stagger * restartMs / spread,
        });
    }
}

void Simulation::advanceTo(SimMillis now, const DatagramSink& sink) {
    while (m_nextTick <= now) {
        tick(m_nextTick, sink);
        m_nextTick += kTickMs;
    }
}

void Simulation::tick(SimMillis now, const DatagramSink& sink) {
    const TTimeTag tag = timeTagOf(m_clock());
    runScenarios(now, sink);
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        SimDevice& device = m_devices[i];
        if (device.state != DeviceState::Running) {
            if (now < device.quietUntil) {
                continue;
            }
            wake(i, now, sink);
        }
        if (m_config.rate > 0) {
            continue;
        }
        m_changedTs.clear();
        m_changedTi.clear();
        device.signals.step(device.random, static_cast<int>(kTickMs), m_changedTs, m_changedTi);
        sendSporadic(i, tag, sink);
        if (now >= device.nextCyclic) {
            device.nextCyclic += m_cycleMs;
            sendCyclic(i, sink);
        }
        sendMessages(i, now, tag, sink);
    }
}

void Simulation::runScenarios(SimMillis now, const DatagramSink& sink) {
    if (m_config.silence && now >= m_nextSilence) {
        m_nextSilence += std::max(kTickMs, toMillis(m_config.silenceEverySeconds));
        startSilence(now);
    }
    if (m_config.malformed && now >= m_nextMalformed) {
        m_nextMalformed += std::max(kTickMs, toMillis(m_config.malformedEverySeconds));
        sendMalformed(now, sink);
    }
    const SimMillis restartMs = toMillis(m_config.restartEverySeconds);
    if (restartMs <= 0) {
        return;
    }
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        SimDevice& device = m_devices[i];
        if (!device.info->sequenced || now < device.nextRestart) {
            continue;
        }
        device.nextRestart += std::max(kTickMs, restartMs);
        if (device.state != DeviceState::Running) {
            continue;
        }
        device.sequence.requestRestart(false);
        logDevice(now, i, "restarts: sequence back to 0");
        if (m_config.rate == 0) {
            sendCyclic(i, sink);  // a controller reports everything after boot
        }
    }
}

void Simulation::startSilence(SimMillis now) {
    for (std::size_t step = 0; step < m_devices.size(); ++step) {
        const std::size_t i = (m_silenceTurn + step) % m_devices.size();
        SimDevice& device = m_devices[i];
        if (device.state == DeviceState::Running) {
            const SimMillis quiet = toMillis(m_config.silenceForSeconds);
            device.state = DeviceState::Silent;
            device.quietUntil = now + quiet;
            m_silenceTurn = i + 1;
            logDevice(now, i, "goes silent for " + std::to_string(quiet / 1000) + " s");
            return;
        }
    }
}

void Simulation::wake(std::size_t index, SimMillis now, const DatagramSink& sink) {
    SimDevice& device = m_devices[index];
    const bool reprogrammed = device.state == DeviceState::Reprogramming;
    device.state = DeviceState::Running;
    if (reprogrammed) {
        device.sequence.requestRestart(true);
        logDevice(now, index, "back from firmware update mode, sequence restarted");
    } else {
        logDevice(now, index, "back after silence");
    }
    if (m_config.rate == 0) {
        sendCyclic(index, sink);
    }
}

void Simulation::sendMalformed(SimMillis now, const DatagramSink& sink) {
    std::vector<std::size_t> running;
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        if (m_devices[i].state == DeviceState::Running) {
            running.push_back(i);
        }
    }
    if (running.empty()) {
        return;
    }
    const std::size_t index =
        running[std::uniform_int_distribution<std::size_t>(0, running.size() - 1)(m_random)];
    const MalformedKind kind = kMalformedKinds[m_malformedTurn++ % kMalformedKinds.size()];
    SimDevice& device = m_devices[index];
    const std::vector<std::uint8_t> bytes = buildMalformed(kind, device.identity, m_random);
    ++device.stats.sent;
    ++device.stats.malformed;
    logDevice(now, index,
              std::string("sends a malformed datagram (") + malformedKindText(kind) + ", " +
                  std::to_string(bytes.size()) + " bytes)");
    sink(index, bytes);
}

void Simulation::sendSporadic(std::size_t index, const TTimeTag& tag, const DatagramSink& sink) {
    SimDevice& device = m_devices[index];
    const auto ts = device.signals.ts();
    if (!device.info->sequenced) {
        if (!m_changedTs.empty()) {
            writeClassOnlyTs(device);
            emit(index, sink);
        }
        return;
    }
    if (!m_changedTs.empty()) {
        m_writer.beginSequenced(device.identity, kClassTs, kSubtypeSporadic);
        for (std::size_t at : m_changedTs) {
            if (!m_writer.appendTs(ts[at].number, ts[at].flags, tag)) {
                emit(index, sink);
                m_writer.beginSequenced(device.identity, kClassTs, kSubtypeSporadic);
                m_writer.appendTs(ts[at].number, ts[at].flags, tag);
            }
        }
        emit(index, sink);
    }
    if (!m_changedTi.empty()) {
        const auto ti = device.signals.ti();
        m_writer.beginSequenced(device.identity, kClassTi, kSubtypeSporadic);
        for (std::size_t at : m_changedTi) {
            if (!m_writer.appendTi(ti[at].number, 0, ti[at].value, tag)) {
                emit(index, sink);
                m_writer.beginSequenced(device.identity, kClassTi, kSubtypeSporadic);
                m_writer.appendTi(ti[at].number, 0, ti[at].value, tag);
            }
            device.signals.markReported(at);
        }
        emit(index, sink);
    }
}

std::size_t Simulation::cyclicChunkCount(const SimDevice& device) const {
    if (!device.info->sequenced) {
        return 2;  // one TS and one TI datagram of the device's own classes
    }
    return chunksOf(device.tsRange.count, kTsItemsPerDatagram) +
           chunksOf(device.tiRange.count, kTiItemsPerDatagram);
}

void Simulation::sendCyclic(std::size_t index, const DatagramSink& sink) {
    const SimDevice& device = m_devices[index];
    const std::size_t chunks = cyclicChunkCount(device);
    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
        writeCyclicChunk(index, chunk);
        emit(index, sink);
    }
}

void Simulation::writeCyclicChunk(std::size_t index, std::size_t chunk) {
    SimDevice& device = m_devices[index];
    if (!device.info->sequenced) {
        if (chunk == 0) {
            writeClassOnlyTs(device);
            return;
        }
        // Count, then each measurement in tenths as a signed 16-bit value.
        m_writer.beginClassOnly(device.identity, kClassOnlyTi);
        const auto ti = device.signals.ti();
        std::vector<std::uint8_t> body{static_cast<std::uint8_t>(ti.size())};
        for (const TiSignal& signal : ti) {
            const auto tenths = static_cast<std::int16_t>(std::lround(signal.value * 10.0F));
            body.push_back(static_cast<std::uint8_t>(tenths & 0xFF));
            body.push_back(static_cast<std::uint8_t>((tenths >> 8) & 0xFF));
        }
        m_writer.appendBytes(body);
        return;
    }
    const std::size_t tsChunks = chunksOf(device.tsRange.count, kTsItemsPerDatagram);
    if (chunk < tsChunks) {
        m_writer.beginSequenced(device.identity, kClassTs, kSubtypeCyclic);
        const auto ts = device.signals.ts();
        const std::size_t end = std::min(ts.size(), (chunk + 1) * kTsItemsPerDatagram);
        for (std::size_t at = chunk * kTsItemsPerDatagram; at < end; ++at) {
            m_writer.appendTs(ts[at].number, ts[at].flags, {});
        }
        return;
    }
    m_writer.beginSequenced(device.identity, kClassTi, kSubtypeCyclic);
    const auto ti = device.signals.ti();
    const std::size_t first = (chunk - tsChunks) * kTiItemsPerDatagram;
    const std::size_t end = std::min(ti.size(), first + kTiItemsPerDatagram);
    for (std::size_t at = first; at < end; ++at) {
        m_writer.appendTi(ti[at].number, 0, ti[at].value, {});
        device.signals.markReported(at);
    }
}

void Simulation::writeClassOnlyTs(const SimDevice& device) {
    // Count, then the states as a bit field, first signal in the lowest bit.
    m_writer.beginClassOnly(device.identity, kClassOnlyTs);
    const auto ts = device.signals.ts();
    std::vector<std::uint8_t> body{static_cast<std::uint8_t>(ts.size())};
    body.resize(1 + (ts.size() + 7) / 8);
    for (std::size_t at = 0; at < ts.size(); ++at) {
        if ((ts[at].flags & kFlagState) != 0) {
            body[1 + at / 8] |= static_cast<std::uint8_t>(1U << (at % 8));
        }
    }
    m_writer.appendBytes(body);
}

void Simulation::sendMessages(std::size_t index, SimMillis now, const TTimeTag& tag,
                              const DatagramSink& sink) {
    SimDevice& device = m_devices[index];
    if (now >= device.nextTime) {
        device.nextTime += kTimeMessageEveryMs;
        sendTimeMessage(index, tag, sink);
    }
    if (device.info->family != DescriptionFamily::Telemechanics) {
        return;
    }
    constexpr auto tickMs = static_cast<double>(kTickMs);
    if (std::bernoulli_distribution(tickMs / kTextMeanMs)(device.random)) {
        writeTextMessage(device);
        emit(index, sink);
    }
    if (std::bernoulli_distribution(tickMs / kSilenceRequestMeanMs)(device.random)) {
        const std::array<std::uint8_t, 2> body{kSilenceRequestSeconds & 0xFF,
                                               kSilenceRequestSeconds >> 8};
        m_writer.beginSequenced(device.identity, kClassSilence, 0);
        m_writer.appendBytes(body);
        emit(index, sink);
    }
}

void Simulation::sendTimeMessage(std::size_t index, const TTimeTag& tag, const DatagramSink& sink) {
    writeTimeMessage(m_devices[index], tag);
    emit(index, sink);
}

void Simulation::writeTimeMessage(const SimDevice& device, const TTimeTag& tag) {
    if (device.info->sequenced) {
        m_writer.beginSequenced(device.identity, kClassTime, 0);
    } else {
        m_writer.beginClassOnly(device.identity, kClassOnlyTimeSetting);
    }
    m_writer.appendTimeTag(tag);
}

void Simulation::writeTextMessage(SimDevice& device) {
    const char* text =
        kTexts[std::uniform_int_distribution<std::size_t>(0, kTexts.size() - 1)(device.random)];
    std::string body = encodeCp1251(text);
    body.push_back('\0');
    m_writer.beginSequenced(device.identity, kClassText, 0);
    m_writer.appendBytes({reinterpret_cast<const std::uint8_t*>(body.data()), body.size()});
}

int Simulation::emitLoad(std::size_t index, int count, const DatagramSink& sink) {
    SimDevice& device = m_devices[index];
    if (device.state != DeviceState::Running) {
        return 0;
    }
    const TTimeTag tag = timeTagOf(m_clock());
    for (int i = 0; i < count; ++i) {
        writeLoadDatagram(index, device.loadChunk++, tag);
        emit(index, sink);
    }
    return count;
}

void Simulation::writeLoadDatagram(std::size_t index, std::size_t turn, const TTimeTag& tag) {
    SimDevice& device = m_devices[index];
    const std::size_t chunks = cyclicChunkCount(device);
    if (!device.info->sequenced) {
        const std::size_t step = turn % (chunks + 1);
        if (step < chunks) {
            writeCyclicChunk(index, step);
        } else {
            writeTimeMessage(device, tag);
        }
        return;
    }
    const std::size_t round = chunks + kLoadExtraTurns;
    const std::size_t step = turn % round;
    if (step < chunks) {
        writeCyclicChunk(index, step);
    } else if (step == chunks || step == chunks + 1) {
        writeLoadSporadic(index, step == chunks, tag);
    } else if (device.info->family == DescriptionFamily::Telemechanics &&
               turn / round % kLoadTextEvery == kLoadTextEvery - 1) {
        writeTextMessage(device);
    } else {
        writeTimeMessage(device, tag);
    }
}

// A sporadic report of what changed in a tick of the device's process, or, when nothing did,
// of its next signal in turn, every item with the time tag.
void Simulation::writeLoadSporadic(std::size_t index, bool ts, const TTimeTag& tag) {
    SimDevice& device = m_devices[index];
    m_changedTs.clear();
    m_changedTi.clear();
    device.signals.step(device.random, static_cast<int>(kTickMs), m_changedTs, m_changedTi);
    std::vector<std::size_t>& changed = ts ? m_changedTs : m_changedTi;
    const std::size_t signals = ts ? device.signals.ts().size() : device.signals.ti().size();
    if (signals == 0) {
        writeTimeMessage(device, tag);
        return;
    }
    if (changed.empty()) {
        changed.push_back(device.loadChunk % signals);
    }
    m_writer.beginSequenced(device.identity, ts ? kClassTs : kClassTi, kSubtypeSporadic);
    for (std::size_t n = 0; n < changed.size() && n < kLoadSporadicItems; ++n) {
        const std::size_t at = changed[n];
        if (ts) {
            const TsSignal& signal = device.signals.ts()[at];
            m_writer.appendTs(signal.number, signal.flags, tag);
        } else {
            const TiSignal& signal = device.signals.ti()[at];
            m_writer.appendTi(signal.number, 0, signal.value, tag);
            device.signals.markReported(at);
        }
    }
}

void Simulation::emit(std::size_t index, const DatagramSink& sink) {
    SimDevice& device = m_devices[index];
    if (device.info->sequenced) {
        m_writer.stampSequence(device.sequence.take(m_config.loss, device.random, device.stats));
    }
    ++device.stats.sent;
    sink(index, m_writer.bytes());
}

int Simulation::indexOfMac(std::string_view macText) const {
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        const std::string& mac = m_devices[i].macText;
        if (mac.size() == macText.size() &&
            strncasecmp(mac.data(), macText.data(), mac.size()) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void Simulation::changeIp(std::size_t index, const std::string& ip, SimMillis now) {
    SimDevice& device = m_devices[index];
    logDevice(now, index, "takes the address " + ip + " (was " + device.ip + ")");
    device.ip = ip;
}

void Simulation::startReprogramming(std::size_t index, SimMillis now) {
    SimDevice& device = m_devices[index];
    const SimMillis quiet = toMillis(m_config.reprogQuietSeconds);
    device.quietUntil =
        std::max(device.state == DeviceState::Running ? 0 : device.quietUntil, now + quiet);
    device.state = DeviceState::Reprogramming;
    logDevice(now, index,
              "enters firmware update mode: quiet for " + std::to_string(quiet / 1000) +
                  " s, then restarts");
}

void Simulation::log(SimMillis at, const std::string& text) const {
    m_log(logLine(at, text));
}

void Simulation::logDevice(SimMillis at, std::size_t device, const std::string& text) const {
    log(at, m_devices[device].label() + ": " + text);
}

void Simulation::logStart() const {
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        const SimDevice& device = m_devices[i];
        const std::string kind = device.info->sequenced ? "" : "own ";
        logDevice(0, i,
                  std::string("started, type ") + std::to_string(device.info->code) + " " +
                      device.info->name + ", " + kind + rangeText("TS", device.tsRange) + ", " +
                      kind + rangeText("TI", device.tiRange));
    }
}

std::string Simulation::summary(SimMillis elapsed) const {
    std::string out = logLine(elapsed, "summary") + "\n";
    char row[256];
    std::snprintf(row, sizeof row, "%4s  %-17s  %-15s  %10s  %8s  %6s  %8s  %9s  %s\n", "#", "MAC",
                  "IP", "sent", "skipped", "gaps", "restarts", "malformed", "type");
    out += row;
    DeviceStats total;
    for (const SimDevice& device : m_devices) {
        const DeviceStats& s = device.stats;
        std::snprintf(
            row, sizeof row, "%4d  %-17s  %-15s  %10llu  %8llu  %6llu  %8u  %9llu  %u %s\n",
            device.number, device.macText.c_str(), device.ip.c_str(),
            static_cast<unsigned long long>(s.sent), static_cast<unsigned long long>(s.skipped),
            static_cast<unsigned long long>(s.gaps), s.restarts,
            static_cast<unsigned long long>(s.malformed), device.info->code, device.info->name);
        out += row;
        total.sent += s.sent;
        total.skipped += s.skipped;
        total.gaps += s.gaps;
        total.restarts += s.restarts;
        total.malformed += s.malformed;
    }
    std::snprintf(row, sizeof row, "%4s  %-17s  %-15s  %10llu  %8llu  %6llu  %8u  %9llu\n", "",
                  "all devices", "", static_cast<unsigned long long>(total.sent),
                  static_cast<unsigned long long>(total.skipped),
                  static_cast<unsigned long long>(total.gaps), total.restarts,
                  static_cast<unsigned long long>(total.malformed));
    out += row;
    return out;
}

}  // namespace qvlink::sim
