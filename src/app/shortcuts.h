#pragma once

// The keyboard shortcuts of the monitor's own functions, in one table (the README lists the
// same). They open windows of their own; the two main windows gain no controls.

#include <QKeySequence>
#include <QString>
#include <functional>

class QMenu;
class QWidget;

namespace qvlink {

class BusStatisticsWindow;

/// Trend of the current TS/TI row alone.
inline const QKeySequence kTrendShortcut(QStringLiteral("Ctrl+T"));
/// The current TS/TI row added to the open trend.
inline const QKeySequence kAddToTrendShortcut(QStringLiteral("Ctrl+Shift+T"));
/// "Журнал событий", from either main window.
inline const QKeySequence kEventLogShortcut(QStringLiteral("Ctrl+L"));
/// "Статистика шины", from either main window.
inline const QKeySequence kBusStatisticsShortcut(QStringLiteral("Ctrl+Shift+S"));
/// "Запись и воспроизведение", from either main window and the trace grid's context menu.
inline const QKeySequence kRecordingShortcut(QStringLiteral("Ctrl+Shift+R"));

/// A shortcut active while `window` is the active window.
void addShortcut(QWidget& window, const QKeySequence& keys, std::function<void()> handler);
/// A menu entry that shows its shortcut beside the text.
void addMenuEntry(QMenu& menu, const QString& text, const QKeySequence& keys,
                  std::function<void()> handler);
/// "Статистика шины" with its shortcut, bringing `window` to the front.
void addBusStatisticsEntry(QMenu& menu, BusStatisticsWindow& window);

}  // namespace qvlink
