#pragma once

#include <QAction>
#include <QMenu>
#include <QString>

namespace qvlink::test {

/// Triggers the entry called `text` of a context menu; false when it has none.
inline bool triggerMenuEntry(QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == text) {
            action->trigger();
            return true;
        }
    }
    return false;
}

}  // namespace qvlink::test
