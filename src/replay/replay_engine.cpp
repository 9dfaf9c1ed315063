#include "replay/replay_engine.h"

#include <algorithm>
#include <limits>

#include "common/dotted_quad.h"

namespace qvlink {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kMicrosPerMilli = 1'000;

}  // namespace

ReplayEngine::ReplayEngine(const capture::BusCapture& capture, ReplayClock& clock,
                           ReplayTarget& target)
    : m_capture(capture), m_clock(clock), m_target(target) {
    if (!capture.datagrams.empty()) {
        m_startUs = capture.datagrams.front().timeUs;
        // The capture ends with the refresh that shows its last datagram.
        const std::int64_t lastUs = capture.datagrams.back().timeUs;
        m_endUs = m_startUs + ((lastUs - m_startUs) / kMicrosPerSecond + 1) * kMicrosPerSecond;
    }
    m_clock.set(m_startUs);
    m_nextSecondUs = m_startUs + kMicrosPerSecond;
}

void ReplayEngine::setPlaying(bool playing) {
    m_playing = playing && !atEnd();
}

void ReplayEngine::advance(std::int64_t wallMillis) {
    if (!m_playing) {
        return;
    }
    if (m_speed == kAsFastAsPossible) {
        runTo(m_endUs, kFastBatch);
    } else {
        runTo(std::min(m_endUs, positionMicros() + wallMillis * kMicrosPerMilli * m_speed),
              std::numeric_limits<std::size_t>::max());
    }
    m_playing = !atEnd();
}

bool ReplayEngine::step() {
    if (atEnd()) {
        return false;
    }
    runTo(m_next < datagramCount() ? m_capture.datagrams[m_next].timeUs : m_endUs, 1);
    return true;
}

void ReplayEngine::seek(std::int64_t micros) {
    micros = std::clamp(micros, m_startUs, m_endUs);
    if (micros < positionMicros()) {
        startOver();
    }
    runTo(micros, std::numeric_limits<std::size_t>::max());
    m_playing = m_playing && !atEnd();
}

void ReplayEngine::startOver() {
    m_target.restart();
    m_next = 0;
    m_clock.set(m_startUs);
    m_nextSecondUs = m_startUs + kMicrosPerSecond;
}

void ReplayEngine::runTo(std::int64_t micros, std::size_t maxDatagrams) {
    const auto& datagrams = m_capture.datagrams;
    // Where this run's refreshes stop, so that only its last one draws: at the last datagram
    // it may hand over when more are due than it may, else at `micros`.
    const bool cutShort = maxDatagrams < datagrams.size() - m_next &&
                          datagrams[m_next + maxDatagrams].timeUs <= micros;
    const std::int64_t stopUs = cutShort ? datagrams[m_next + maxDatagrams - 1].timeUs : micros;
    const std::int64_t shownFromUs = stopUs - kMicrosPerSecond;
    for (std::size_t handed = 0;
         handed < maxDatagrams && m_next < datagrams.size() && datagrams[m_next].timeUs <= micros;
         ++handed) {
        const capture::CapturedDatagram& datagram = datagrams[m_next];
        secondsUntil(datagram.timeUs, shownFromUs);
        m_clock.set(datagram.timeUs);
        m_senderIp = dottedQuadText(datagram.sourceIp);
        m_target.receive(m_capture.payload(datagram), datagram.length, m_senderIp,
                         m_next < m_furthestDatagram);
        ++m_next;
        m_furthestDatagram = std::max(m_furthestDatagram, m_next);
    }
    if (m_next == datagrams.size() || datagrams[m_next].timeUs > micros) {
        secondsUntil(micros, shownFromUs);
        m_clock.set(std::max(positionMicros(), micros));
    }
}

void ReplayEngine::secondsUntil(std::int64_t micros, std::int64_t shownFromUs) {
    for (; m_nextSecondUs <= micros; m_nextSecondUs += kMicrosPerSecond) {
        m_clock.set(m_nextSecondUs);
        const bool revisiting = m_nextSecondUs <= m_furthestSecondUs;
        m_furthestSecondUs = std::max(m_furthestSecondUs, m_nextSecondUs);
        m_target.secondElapsed(revisiting, m_nextSecondUs > shownFromUs);
    }
}

}  // namespace qvlink
