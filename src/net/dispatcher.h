#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace qvlink {

/// Calls a function on a dispatcher's thread while a file descriptor is readable. Destroying
/// it on that thread ends the calls at once, even one whose readiness was already seen.
class ReadableWatch {
public:
    virtual ~ReadableWatch() = default;
    /// No calls for `pause`, then they resume (light traffic gathers meanwhile; a failure does
    /// not spin).
    virtual void pauseFor(std::chrono::milliseconds pause) = 0;
};

/// The thread that owns the program's state (the GUI thread in the monitor), as the network
/// layer sees it: it watches descriptors itself, so that no other thread stands between a
/// datagram and its handler.
class Dispatcher {
public:
    virtual ~Dispatcher() = default;

    /// Calls `onReadable` on the dispatcher's thread whenever `fd` is readable, until the
    /// watch is destroyed. Called on that thread.
    virtual std::unique_ptr<ReadableWatch> watchReadable(int fd,
                                                         std::function<void()> onReadable) = 0;
};

}  // namespace qvlink
