#pragma once

#include <QWidget>
#include <string>

#include "eventlog/event_journal.h"

class QPlainTextEdit;

namespace qvlink {

/// "Журнал событий": the journal's lines, read-only and copyable, newest last. Non-modal;
/// closing only hides it. An entry that needs attention shows it without taking the focus.
class EventLogWindow : public QWidget {
    Q_OBJECT

public:
    explicit EventLogWindow(Clock clock = systemLocalTime, QWidget* parent = nullptr);

    /// Adds an entry; callable from any thread (the entry is added on the window's thread).
    void post(const std::string& text, bool needsAttention = false);
    /// Shows, raises and activates the window (the shortcut).
    void showAndActivate();

    EventJournal& journal() { return m_journal; }
    QPlainTextEdit* text() const { return m_text; }

private:
    void appendEntry(const JournalEntry& entry);

    EventJournal m_journal;
    QPlainTextEdit* m_text;
};

}  // namespace qvlink
