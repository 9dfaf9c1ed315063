#include "eventlog/event_log_window.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace qvlink {

EventLogWindow::EventLogWindow(Clock clock, QWidget* parent)
    : QWidget(parent, Qt::Window), m_journal(std::move(clock)), m_text(new QPlainTextEdit(this)) {
    setWindowTitle(QStringLiteral("Журнал событий"));
    resize(640, 320);
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setMaximumBlockCount(static_cast<int>(EventJournal::kCapacity));
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text);
    m_journal.setListener([this](const JournalEntry& entry) { appendEntry(entry); });
}

void EventLogWindow::post(const std::string& text, bool needsAttention) {
    QMetaObject::invokeMethod(
        this, [this, text, needsAttention] { m_journal.add(text, needsAttention); },
        Qt::AutoConnection);
}

void EventLogWindow::showAndActivate() {
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    show();
    raise();
    activateWindow();
}

void EventLogWindow::appendEntry(const JournalEntry& entry) {
    m_text->appendPlainText(QString::fromStdString(journalLineText(entry)));
    if (entry.needsAttention && !isVisible()) {
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        show();
    }
}

}  // namespace qvlink
