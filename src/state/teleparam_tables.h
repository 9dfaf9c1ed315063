#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/bus_types.h"
#include "state/clock.h"

namespace qvlink {

/// A decoded TS item, and in the same shape a TS table entry.
struct TTs {
    bool valid = false;        ///< table entries only: written at least once
    std::uint16_t number = 0;  ///< point number of a decoded item
    std::uint8_t flags = 0;
    TTimeTag timeTag;
    std::uint32_t timeout = 0;  ///< seconds since the latest item, raised by each refresh
    std::string macAddr;        ///< device that sent the latest item
    LocalDateTime lastReceived;
};

/// A decoded TI item, and in the same shape a TI table entry.
struct TTi {
    bool valid = false;
    std::uint16_t number = 0;
    std::uint8_t flags = 0;
    float value = 0.0F;
    TTimeTag timeTag;
    std::uint32_t timeout = 0;
    std::string macAddr;
    LocalDateTime lastReceived;
};

/// The bus-wide tables of 500 TS and 500 TI points, indexed 1 to 500.
/// Entries become valid with their first item and are never cleared.
class TeleparamTables {
public:
    explicit TeleparamTables(Clock clock = systemLocalTime);

    /// Stores a decoded item; numbers 0 and above 500 are ignored.
    void storeTs(const TTs& item);
    void storeTi(const TTi& item);
    /// Copy of a valid entry; false, `entry` untouched, when never written or out of range.
    bool getTs(int number, TTs& entry) const;
    bool getTi(int number, TTi& entry) const;
    /// Adds one second to the age of an entry; numbers outside 1 to 500 are ignored.
    void incTsTimeout(int number);
    void incTiTimeout(int number);

private:
    Clock m_clock;
    std::array<TTs, kPointCount + 1> m_ts{};  // entry 0 unused
    std::array<TTi, kPointCount + 1> m_ti{};
};

}  // namespace qvlink
