#include "eventlog/event_log_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <thread>

#include "support/event_wait.h"

namespace qvlink {
namespace {

LocalDateTime fixedTime() {
    return {2026, 12, 9, 7, 5, 3, 42};
}

TEST(EventLogWindow, AttentionShowsTheWindowWithoutTakingTheFocus) {
    QLineEdit elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    elsewhere.setFocus();
    EventLogWindow log(fixedTime);

    log.post("Журнал: обычная запись");
    test::processEventsUntil([&] { return log.journal().entries().size() == 1; });
    EXPECT_TRUE(log.isHidden());

    log.post("Файл истории повреждён", true);
    ASSERT_TRUE(test::processEventsUntil([&] { return log.isVisible(); }));
    EXPECT_TRUE(log.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(log.text()->toPlainText(),
              "09.12.2026 07:05:03.042  Журнал: обычная запись\n"
              "09.12.2026 07:05:03.042  Файл истории повреждён");
    EXPECT_TRUE(log.text()->isReadOnly());
    EXPECT_TRUE(log.text()->textInteractionFlags() & Qt::TextSelectableByMouse);
}

TEST(EventLogWindow, PostFromAnotherThreadArrivesOnTheWindowsThread) {
    EventLogWindow log(fixedTime);
    std::thread writer([&] { log.post("из потока записи"); });
    writer.join();
    ASSERT_TRUE(test::processEventsUntil([&] { return log.journal().entries().size() == 1; }));
    EXPECT_EQ(log.text()->toPlainText(), "09.12.2026 07:05:03.042  из потока записи");
}

}  // namespace
}  // namespace qvlink
