#pragma once

#include <QObject>

#include "net/dispatcher.h"

namespace qvlink {

/// Watches sockets on the thread that owns this object (the GUI thread) with the event loop's
/// own poll.
class QtDispatcher final : public QObject, public Dispatcher {
public:
    explicit QtDispatcher(QObject* parent = nullptr) : QObject(parent) {}

    std::unique_ptr<ReadableWatch> watchReadable(int fd, std::function<void()> onReadable) override;
};

}  // namespace qvlink
