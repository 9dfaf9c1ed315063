#include "busstats/rate_window.h"

#include <algorithm>

namespace qvlink {

std::int64_t RateWindow::secondOf(std::int64_t ms) {
    return ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
}

std::uint32_t& RateWindow::bucket(std::int64_t second) {
    return m_counts[static_cast<std::size_t>((second % kSeconds + kSeconds) % kSeconds)];
}

std::uint32_t RateWindow::bucket(std::int64_t second) const {
    return m_counts[static_cast<std::size_t>((second % kSeconds + kSeconds) % kSeconds)];
}

void RateWindow::add(std::int64_t nowMs) {
    const std::int64_t second = secondOf(nowMs);
    if (second <= m_newestSecond - kSeconds) {
        return;
    }
    if (second - m_newestSecond >= kSeconds) {
        m_counts.fill(0);
    } else {
        for (std::int64_t s = m_newestSecond + 1; s <= second; ++s) {
            bucket(s) = 0;
        }
    }
    m_newestSecond = std::max(m_newestSecond, second);
    ++bucket(second);
}

std::uint32_t RateWindow::countAt(std::int64_t nowMs) const {
    const std::int64_t second = secondOf(nowMs);
    std::uint32_t total = 0;
    for (std::int64_t s = std::max(second, m_newestSecond) - kSeconds + 1;
         s <= std::min(second, m_newestSecond); ++s) {
        total += bucket(s);
    }
    return total;
}

}  // namespace qvlink
