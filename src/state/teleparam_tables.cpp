#include "state/teleparam_tables.h"

#include <utility>

#include "protocol/items.h"

namespace qvlink {
namespace {

bool isPointNumber(int number) {
    return number >= 1 && number <= kPointCount;
}

/// Overwrites every data field of a table entry with a decoded item.
template <typename Entry>
void storeItem(const Entry& item, const LocalDateTime& now, Entry& entry) {
    entry.valid = true;
    entry.number = item.number;
    entry.flags = item.flags;
    entry.timeTag = item.timeTag;
    entry.timeout = 0;
    entry.macAddr = item.macAddr;
    entry.lastReceived = now;
}

template <typename Entry, std::size_t N>
bool copyValidEntry(const std::array<Entry, N>& table, int number, Entry& entry) {
    if (!isPointNumber(number) || !table[static_cast<std::size_t>(number)].valid) {
        return false;
    }
    entry = table[static_cast<std::size_t>(number)];
    return true;
}

template <typename Entry, std::size_t N>
void incTimeout(std::array<Entry, N>& table, int number) {
    if (isPointNumber(number)) {
        ++table[static_cast<std::size_t>(number)].timeout;
    }
}

}  // namespace

TeleparamTables::TeleparamTables(Clock clock) : m_clock(std::move(clock)) {}

void TeleparamTables::storeTs(const TTs& item) {
    if (!isPointNumber(item.number)) {
        return;
    }
    storeItem(item, m_clock(), m_ts[item.number]);
    for (const TsListener& listener : m_tsListeners) {
        listener(item);
    }
}

void TeleparamTables::storeTi(const TTi& item) {
    if (isPointNumber(item.number)) {
        TTi& entry = m_ti[item.number];
        storeItem(item, m_clock(), entry);
        entry.value = item.value;
        for (const TiListener& listener : m_tiListeners) {
            listener(item);
        }
    }
}

bool TeleparamTables::getTs(int number, TTs& entry) const {
    return copyValidEntry(m_ts, number, entry);
}

bool TeleparamTables::getTi(int number, TTi& entry) const {
    return copyValidEntry(m_ti, number, entry);
}

void TeleparamTables::ageValidEntries() {
    for (int number = 1; number <= kPointCount; ++number) {
        if (m_ts[static_cast<std::size_t>(number)].valid) {
            incTsTimeout(number);
        }
        if (m_ti[static_cast<std::size_t>(number)].valid) {
            incTiTimeout(number);
        }
    }
}

void TeleparamTables::clear() {
    m_ts = {};
    m_ti = {};
}

void TeleparamTables::incTsTimeout(int number) {
    incTimeout(m_ts, number);
}

void TeleparamTables::incTiTimeout(int number) {
    incTimeout(m_ti, number);
}

void processTsPacket(const TPacket& packet, TeleparamTables& tables) {
    forEachTsItem(packet, [&tables](const TTs& item) { tables.storeTs(item); });
}

void processTiPacket(const TPacket& packet, TeleparamTables& tables) {
    forEachTiItem(packet, [&tables](const TTi& item) { tables.storeTi(item); });
}

}  // namespace qvlink
