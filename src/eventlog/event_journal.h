#pragma once

// The monitor's own messages (store faults, recording status, broker link, confirmations):
// one time-stamped line each, the newest last, the last 1,000 kept. No Qt; GUI thread only.

#include <cstddef>
#include <deque>
#include <functional>
#include <string>

#include "common/bus_types.h"
#include "common/clock.h"

namespace qvlink {

struct JournalEntry {
    LocalDateTime time;
    std::string text;
    /// The user should see it now: the log window shows itself.
    bool needsAttention = false;
};

/// "dd.mm.yyyy hh:mm:ss.zzz  text".
std::string journalLineText(const JournalEntry& entry);

class EventJournal {
public:
    static constexpr std::size_t kCapacity = 1000;
    /// Told of every entry after it was added.
    using Listener = std::function<void(const JournalEntry& entry)>;

    explicit EventJournal(Clock clock = systemLocalTime);

    void add(std::string text, bool needsAttention = false);
    void setListener(Listener listener) { m_listener = std::move(listener); }

    /// Oldest first.
    const std::deque<JournalEntry>& entries() const { return m_entries; }
    /// Every kept line, each ended by a line feed.
    std::string text() const;

private:
    Clock m_clock;
    std::deque<JournalEntry> m_entries;
    Listener m_listener;
};

}  // namespace qvlink
