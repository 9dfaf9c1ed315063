#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/unique_fd.h"
#include "net/dispatcher.h"

namespace qvlink::test {

/// Stands in for the monitor's GUI thread: a thread of its own that runs the work handed to
/// run() one at a time, in order, and between times watches descriptors with poll(), as the
/// event loop does. Work still queued at destruction is dropped.
class GuiThread final : public Dispatcher {
public:
    GuiThread() : m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_thread([this] { loop(); }) {}

    ~GuiThread() override {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        signal();
        m_thread.join();
    }

    std::unique_ptr<ReadableWatch> watchReadable(int fd,
                                                 std::function<void()> onReadable) override {
        m_watched.push_back(std::make_shared<Watched>(fd, std::move(onReadable)));
        return std::make_unique<Watch>(m_watched.back());
    }

    /// Runs `work` on this thread, waits for it and hands back its result or exception.
    template <typename Work>
    std::invoke_result_t<Work> run(Work work) {
        std::packaged_task<std::invoke_result_t<Work>()> task(std::move(work));
        auto result = task.get_future();
        {
            const std::lock_guard lock(m_mutex);
            m_tasks.emplace_back([&task] { task(); });
        }
        signal();
        return result.get();
    }

    std::thread::id id() const { return m_thread.get_id(); }

private:
    using Clock = std::chrono::steady_clock;

    struct Watched {
        int fd;
        std::function<void()> onReadable;
        Clock::time_point pausedUntil{};
        bool ended = false;
    };

    class Watch final : public ReadableWatch {
    public:
        explicit Watch(std::shared_ptr<Watched> watched) : m_watched(std::move(watched)) {}
        ~Watch() override { m_watched->ended = true; }
        void pauseFor(std::chrono::milliseconds pause) override {
            m_watched->pausedUntil = Clock::now() + pause;
        }

    private:
        std::shared_ptr<Watched> m_watched;
    };

    void signal() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_wake.get(), &one, sizeof one);
    }

    void loop() {
        for (;;) {
            std::erase_if(m_watched, [](const auto& watched) { return watched->ended; });
            std::vector<pollfd> fds{{m_wake.get(), POLLIN, 0}};
            std::vector<std::shared_ptr<Watched>> polled;
            int timeoutMs = -1;
            const Clock::time_point now = Clock::now();
            for (const auto& watched : m_watched) {
                if (watched->pausedUntil > now) {
                    const auto left =
                        std::chrono::ceil<std::chrono::milliseconds>(watched->pausedUntil - now);
                    const int leftMs = static_cast<int>(left.count());
                    timeoutMs = timeoutMs < 0 ? leftMs : std::min(timeoutMs, leftMs);
                } else {
                    fds.push_back({watched->fd, POLLIN, 0});
                    polled.push_back(watched);
                }
            }
            poll(fds.data(), fds.size(), timeoutMs);
            if (fds[0].revents != 0 && !runTasks()) {
                return;
            }
            // A task or an earlier call may have ended a watch whose readiness was seen.
            for (std::size_t i = 0; i < polled.size(); ++i) {
                if (fds[i + 1].revents != 0 && !polled[i]->ended) {
                    polled[i]->onReadable();
                }
            }
        }
    }

    /// Runs the work queued so far; false once the thread is to end.
    bool runTasks() {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(m_wake.get(), &count, sizeof count);
        std::deque<std::function<void()>> tasks;
        {
            const std::lock_guard lock(m_mutex);
            if (m_stopping) {
                return false;
            }
            tasks.swap(m_tasks);
        }
        for (const auto& task : tasks) {
            task();
        }
        return true;
    }

    UniqueFd m_wake;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;  // guarded by m_mutex
    bool m_stopping = false;                    // guarded by m_mutex
    std::vector<std::shared_ptr<Watched>> m_watched;
    std::thread m_thread;  // last: starts once the rest exists
};

}  // namespace qvlink::test
