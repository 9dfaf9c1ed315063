#include "app/qt_dispatcher.h"

#include <QMetaObject>

namespace qvlink {

void QtDispatcher::post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

}  // namespace qvlink
