#pragma once

// Helpers of the fault tests: resident memory, figures printed for the CTest log, random
// datagrams and a paced sender thread.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "common/bus_types.h"
#include "support/udp_sender.h"

namespace qvlink::test {

/// Resident memory of this process in bytes, as the kernel counts it.
inline std::int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::int64_t sizePages = 0;
    std::int64_t residentPages = 0;
    statm >> sizePages >> residentPages;
    return residentPages * sysconf(_SC_PAGESIZE);
}

/// Growth of resident memory allowed across one fault. Under the sanitizers their shadow memory
/// counts as resident too: ThreadSanitizer keeps several shadow bytes per byte the program
/// touches, AddressSanitizer an eighth plus a quarantine of freed blocks (capped for these tests
/// at 16 MB, see sanitizer_options.cpp).
#if defined(__SANITIZE_THREAD__)
inline constexpr std::int64_t kResidentGrowthBound = 96 << 20;
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr std::int64_t kResidentGrowthBound = 48 << 20;
#else
inline constexpr std::int64_t kResidentGrowthBound = 16 << 20;
#endif

inline double megabytes(std::int64_t bytes) {
    return static_cast<double>(bytes) / (1 << 20);
}

inline double milliseconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

/// One line of the figures table, readable in the CTest output.
template <typename... Args>
void printFigure(const char* format, Args... args) {
    std::printf("[ figures ] ");
    std::printf(format, args...);
    std::printf("\n");
    std::fflush(stdout);
}

/// A datagram of a sequenced device type: FA CE type address[3] seq class subtype payload.
inline std::vector<std::uint8_t> busDatagram(std::uint8_t type, std::uint32_t address,
                                             std::uint8_t seq, std::uint8_t msgClass,
                                             std::uint8_t subtype,
                                             const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> bytes(kPayloadOffset + payload.size());
    bytes[0] = kMagic0;
    bytes[1] = kMagic1;
    bytes[kOffsetDeviceType] = type;
    bytes[3] = static_cast<std::uint8_t>(address >> 16);
    bytes[4] = static_cast<std::uint8_t>(address >> 8);
    bytes[5] = static_cast<std::uint8_t>(address);
    bytes[kOffsetSequence] = seq;
    bytes[kOffsetClass] = msgClass;
    bytes[kOffsetSubtype] = subtype;
    std::copy(payload.begin(), payload.end(), bytes.begin() + kPayloadOffset);
    return bytes;
}

/// Random datagrams: arbitrary bytes of 1..65507 bytes (the largest UDP payload), and a share
/// that starts like a bus datagram of a known type so that it gets past the checks.
class RandomDatagrams {
public:
    static constexpr std::size_t kLargestUdpPayload = 65507;

    explicit RandomDatagrams(std::uint32_t seed) : m_random(seed) {}

    std::vector<std::uint8_t> next() {
        static constexpr std::uint8_t kTypes[] = {1, 16, 17, 18, 33, 34, 8, 204};
        const bool busLike = m_random() % 4 == 0;
        const std::size_t size = busLike ? 10 + m_random() % 231 : anySize();
        std::vector<std::uint8_t> bytes(size);
        for (std::uint8_t& byte : bytes) {
            byte = static_cast<std::uint8_t>(m_random());
        }
        if (busLike) {
            bytes[0] = 0xFA;
            bytes[1] = 0xCE;
            bytes[2] = kTypes[m_random() % std::size(kTypes)];
            bytes[7] = static_cast<std::uint8_t>(1 + m_random() % 2);  // TI or TS reports
            // The first item's number mostly inside the tables, sometimes just outside.
            const auto number = static_cast<std::uint16_t>(m_random() % 510);
            bytes[9] = static_cast<std::uint8_t>(number);
            if (size > 10) {
                bytes[10] = static_cast<std::uint8_t>(number >> 8);
            }
        }
        return bytes;
    }

private:
    /// Mostly short datagrams, with every length up to the largest possible.
    std::size_t anySize() {
        const std::uint32_t pick = m_random() % 64;
        if (pick == 0) {
            return kLargestUdpPayload;
        }
        return pick < 8 ? 1 + m_random() % kLargestUdpPayload : 1 + m_random() % 300;
    }

    std::mt19937 m_random;
};

}  // namespace qvlink::test
