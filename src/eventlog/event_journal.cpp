#include "eventlog/event_journal.h"

#include <cstdio>
#include <utility>

namespace qvlink {

std::string journalLineText(const JournalEntry& entry) {
    const LocalDateTime& t = entry.time;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d.%02d.%04d %02d:%02d:%02d.%03d", t.day, t.month, t.year,
                  t.hour, t.minute, t.second, t.msec);
    return std::string(stamp) + "  " + entry.text;
}

EventJournal::EventJournal(Clock clock) : m_clock(std::move(clock)) {}

void EventJournal::add(std::string text, bool needsAttention) {
    if (m_entries.size() == kCapacity) {
        m_entries.pop_front();
    }
    m_entries.push_back({m_clock(), std::move(text), needsAttention});
    if (m_listener) {
        m_listener(m_entries.back());
    }
}

std::string EventJournal::text() const {
    std::string all;
    for (const JournalEntry& entry : m_entries) {
        all += journalLineText(entry);
        all += '\n';
    }
    return all;
}

}  // namespace qvlink
