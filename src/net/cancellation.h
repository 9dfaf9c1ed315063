#pragma once

#include <atomic>

#include "common/unique_fd.h"

namespace qvlink {

/// The failure of work stopped through a Cancellation; nobody shows it to the user.
inline constexpr char kCancelledMessage[] = "Operation cancelled.";

/// A one-way stop signal for blocking network work: any thread may raise it, and a thread
/// waiting in poll() on fd() wakes at once. Once raised it stays raised.
class Cancellation {
public:
    Cancellation();
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    void cancel();
    bool isCancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    /// Readable from the moment cancel() was called.
    int fd() const { return m_fd.get(); }

private:
    UniqueFd m_fd;
    std::atomic<bool> m_cancelled{false};
};

}  // namespace qvlink
