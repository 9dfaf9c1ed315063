#pragma once

#include <functional>

namespace qvlink {

/// Hands work from a network thread to the thread that owns the program's state (the GUI
/// thread in the monitor). Implementations run every posted task exactly once, in posting
/// order, on that thread; a task posted after the owner has gone may be dropped.
class Dispatcher {
public:
    virtual ~Dispatcher() = default;
    virtual void post(std::function<void()> task) = 0;
};

}  // namespace qvlink
