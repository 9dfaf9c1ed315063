#include "eventlog/event_journal.h"

#include <gtest/gtest.h>

namespace qvlink {
namespace {

LocalDateTime fixedTime() {
    return {2026, 12, 9, 7, 5, 3, 42};
}

TEST(EventJournal, LineCarriesDateTimeWithMillisecondsThenTheText) {
    EXPECT_EQ(journalLineText({fixedTime(), "Запись истории приостановлена", true}),
              "09.12.2026 07:05:03.042  Запись истории приостановлена");
}

TEST(EventJournal, KeepsTheLastThousandNewestLast) {
    struct Case {
        int added;
        std::size_t kept;
        const char* oldest;
        const char* newest;
    };
    const Case cases[] = {{1, 1, "0", "0"},
                          {1000, 1000, "0", "999"},
                          {1001, 1000, "1", "1000"},
                          {2500, 1000, "1500", "2499"}};
    for (const Case& c : cases) {
        EventJournal journal(fixedTime);
        for (int i = 0; i < c.added; ++i) {
            journal.add(std::to_string(i));
        }
        ASSERT_EQ(journal.entries().size(), c.kept) << c.added;
        EXPECT_EQ(journal.entries().front().text, c.oldest) << c.added;
        EXPECT_EQ(journal.entries().back().text, c.newest) << c.added;
    }
}

TEST(EventJournal, ListenerHearsEachEntryWithItsAttentionAndTextJoinsLines) {
    EventJournal journal(fixedTime);
    std::vector<std::pair<std::string, bool>> heard;
    journal.setListener(
        [&](const JournalEntry& entry) { heard.emplace_back(entry.text, entry.needsAttention); });
    journal.add("первая");
    journal.add("вторая", true);
    const std::vector<std::pair<std::string, bool>> expected = {{"первая", false},
                                                                {"вторая", true}};
    EXPECT_EQ(heard, expected);
    EXPECT_EQ(journal.text(), "09.12.2026 07:05:03.042  первая\n09.12.2026 07:05:03.042  вторая\n");
}

}  // namespace
}  // namespace qvlink
