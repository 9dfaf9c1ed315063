#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace qvlink {

/// Calls a function on a dispatcher's thread while a file descriptor is readable. Destroying
/// it on that thread ends the calls at once.
class ReadableWatch {
public:
    virtual ~ReadableWatch() = default;
    /// No calls for `pause`, then they resume (after a failure that must not spin).
    virtual void pauseFor(std::chrono::milliseconds pause) = 0;
};

/// Hands work from a network thread to the thread that owns the program's state (the GUI
/// thread in the monitor). Implementations run every posted task exactly once, in posting
/// order, on that thread; a task posted after the owner has gone may be dropped.
class Dispatcher {
public:
    virtual ~Dispatcher() = default;
    virtual void post(std::function<void()> task) = 0;

    /// Watches `fd` from the dispatcher's own thread, calling `onReadable` there whenever it is
    /// readable, so that no other thread needs to wait for it. Called on that thread. Nothing
    /// when the dispatcher cannot watch; the caller then waits on a thread of its own.
    virtual std::unique_ptr<ReadableWatch> watchReadable(int fd, std::function<void()> onReadable) {
        static_cast<void>(fd);
        static_cast<void>(onReadable);
        return nullptr;
    }
};

}  // namespace qvlink
