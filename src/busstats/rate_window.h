#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qvlink {

/// Datagrams counted per whole second of a millisecond timeline over the last
/// kSeconds seconds: the rate of a device without keeping its arrival times.
class RateWindow {
public:
    static constexpr int kSeconds = 10;

    /// Counts one datagram at `nowMs`. A time before the window (a capture's timestamps
    /// may step back) is not counted.
    void add(std::int64_t nowMs);
    /// Datagrams of the second holding `nowMs` and the kSeconds - 1 seconds before it.
    std::uint32_t countAt(std::int64_t nowMs) const;
    /// countAt(nowMs) per second.
    double perSecondAt(std::int64_t nowMs) const {
        return countAt(nowMs) / static_cast<double>(kSeconds);
    }

private:
    static std::int64_t secondOf(std::int64_t ms);
    std::uint32_t& bucket(std::int64_t second);
    std::uint32_t bucket(std::int64_t second) const;

    std::array<std::uint32_t, kSeconds> m_counts{};
    /// The newest second counted; the buckets hold it and the kSeconds - 1 before it.
    std::int64_t m_newestSecond = 0;
};

}  // namespace qvlink
