#include "sim_device.h"

namespace qvlink::sim {
namespace {

/// After these numbers a 0 reads to a monitor as a wrap (255), a repeat (0) or a gap (254).
bool restartVisibleAfter(std::uint8_t last) {
    return last >= 1 && last <= 253;
}

}  // namespace

std::uint8_t SequenceCounter::take(double loss, Random& random, DeviceStats& stats) {
    if (m_restartPending && m_sentAny && (m_restartImmediate || restartVisibleAfter(m_lastSent))) {
        m_next = 0;
        m_restartPending = false;
        m_restartImmediate = false;
        ++stats.restarts;
    } else if (loss > 0.0) {
        std::bernoulli_distribution lost(loss);
        bool skippedAny = false;
        while (m_next != 255 && m_next != 0 && lost(random)) {
            ++m_next;
            ++stats.skipped;
            skippedAny = true;
        }
        stats.gaps += skippedAny ? 1 : 0;
    }
    m_lastSent = m_next;
    m_sentAny = true;
    ++m_next;  // 255 wraps to 0
    return m_lastSent;
}

void SequenceCounter::requestRestart(bool immediate) {
    if (!m_sentAny) {
        return;  // nothing sent yet: the numbering starts at 0 anyway
    }
    m_restartPending = true;
    m_restartImmediate = m_restartImmediate || immediate;
}

std::string SimDevice::label() const {
    // Appended piece by piece: g++ 12 at -O3 takes "#" + std::string for an overlapping copy
    // (a false -Wrestrict, GCC bug 105329) once operator+ is inlined.
    std::string text = "#";
    text += std::to_string(number);
    text += ' ';
    text += macText;
    text += ' ';
    text += ip;
    return text;
}

}  // namespace qvlink::sim
