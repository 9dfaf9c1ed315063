#pragma once

#include <array>
#include <functional>
#include <vector>

#include "common/bus_types.h"
#include "common/clock.h"

namespace qvlink {

/// The bus-wide tables of 500 TS and 500 TI points, indexed 1 to 500.
/// Entries become valid with their first item and are never cleared.
class TeleparamTables {
public:
    /// Told of every item stored (point numbers 1 to 500 only), after its entry was written.
    using TsListener = std::function<void(const TTs& item)>;
    using TiListener = std::function<void(const TTi& item)>;

    explicit TeleparamTables(Clock clock = systemLocalTime);

    void addTsListener(TsListener listener) { m_tsListeners.push_back(std::move(listener)); }
    void addTiListener(TiListener listener) { m_tiListeners.push_back(std::move(listener)); }

    /// Stores a decoded item; numbers 0 and above 500 are ignored.
    void storeTs(const TTs& item);
    void storeTi(const TTi& item);
    /// Copy of a valid entry; false, `entry` untouched, when never written or out of range.
    bool getTs(int number, TTs& entry) const;
    bool getTi(int number, TTi& entry) const;
    /// Adds one second to the age of an entry; numbers outside 1 to 500 are ignored.
    void incTsTimeout(int number);
    void incTiTimeout(int number);
    /// Adds one second to the age of every valid entry, as a refresh of both tables does.
    void ageValidEntries();
    /// Forgets every entry, as at start-up (a replay that starts over); the listeners stay.
    void clear();

private:
    Clock m_clock;
    std::array<TTs, kPointCount + 1> m_ts{};  // entry 0 unused
    std::array<TTi, kPointCount + 1> m_ti{};
    std::vector<TsListener> m_tsListeners;
    std::vector<TiListener> m_tiListeners;
};

/// Stores every TS item of a class-2 datagram, in list order; other classes do nothing.
void processTsPacket(const TPacket& packet, TeleparamTables& tables);
/// Stores every TI item of a class-1 datagram, in list order; other classes do nothing.
void processTiPacket(const TPacket& packet, TeleparamTables& tables);

}  // namespace qvlink
