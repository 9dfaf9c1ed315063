#pragma once

#include <QObject>

#include "net/dispatcher.h"

namespace qvlink {

/// Runs posted tasks on the thread that owns this object (the GUI thread) through its event
/// queue, and watches sockets there with the event loop's own poll. Tasks still queued when
/// the object is destroyed are dropped.
class QtDispatcher final : public QObject, public Dispatcher {
public:
    explicit QtDispatcher(QObject* parent = nullptr) : QObject(parent) {}

    void post(std::function<void()> task) override;
    std::unique_ptr<ReadableWatch> watchReadable(int fd, std::function<void()> onReadable) override;
};

}  // namespace qvlink
