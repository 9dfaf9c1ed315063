#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include "net/dispatcher.h"

namespace qvlink::test {

/// Stands in for the monitor's GUI thread: a thread of its own that runs posted tasks one at a
/// time, in posting order. Tasks still queued at destruction are dropped, as a real event loop
/// that has ended drops them.
class GuiThread final : public Dispatcher {
public:
    GuiThread() : m_thread([this] { loop(); }) {}

    ~GuiThread() override {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    void post(std::function<void()> task) override {
        {
            const std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_all();
    }

    /// Runs `work` on this thread, waits for it and hands back its result or exception.
    template <typename Work>
    std::invoke_result_t<Work> run(Work work) {
        std::packaged_task<std::invoke_result_t<Work>()> task(std::move(work));
        auto result = task.get_future();
        post([&task] { task(); });
        return result.get();
    }

    std::thread::id id() const { return m_thread.get_id(); }

private:
    void loop() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
                if (m_stopping) {
                    return;
                }
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::thread m_thread;  // last: starts once the queue exists
};

}  // namespace qvlink::test
