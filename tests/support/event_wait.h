#pragma once

#include <QCoreApplication>
#include <chrono>
#include <thread>

namespace qvlink::test {

/// Runs the GUI thread's events until `done()` holds or `timeout` passes; returns `done()`.
template <typename Predicate>
bool processEventsUntil(Predicate done,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace qvlink::test
