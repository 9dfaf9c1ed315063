#include "app/shortcuts.h"

#include <QMenu>
#include <QShortcut>

#include "busstats_window/bus_statistics_window.h"

namespace qvlink {

void addShortcut(QWidget& window, const QKeySequence& keys, std::function<void()> handler) {
    auto* shortcut = new QShortcut(keys, &window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, &window, std::move(handler));
}

void addMenuEntry(QMenu& menu, const QString& text, const QKeySequence& keys,
                  std::function<void()> handler) {
    QAction* action = menu.addAction(text);
    action->setShortcut(keys);
    // Shown only: the window's own shortcut does the work when the menu is closed.
    action->setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(action, &QAction::triggered, &menu, std::move(handler));
}

void addBusStatisticsEntry(QMenu& menu, BusStatisticsWindow& window) {
    addMenuEntry(menu, QStringLiteral("Статистика шины"), kBusStatisticsShortcut,
                 [&window] { window.showInFront(); });
}

}  // namespace qvlink
