#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/dispatcher.h"
#include "net/http_client.h"

namespace qvlink {

/// Runs an HttpClient form post on a thread of its own, so that the owner thread (the GUI
/// thread of the monitor) goes on receiving and painting while a device takes its time, and
/// hands the outcome back to the owner thread through the dispatcher. One post at a time; every
/// member is called on the owner thread.
class BackgroundPost {
public:
    /// Runs on the owner thread when the post has ended: no failure after a 2xx answer,
    /// otherwise what PostForm raised.
    using Done = std::function<void(std::exception_ptr failure)>;

    /// `client` and `dispatcher` must outlive this object; the client is not touched by anyone
    /// else while a post runs.
    BackgroundPost(HttpClient& client, Dispatcher& dispatcher);
    /// Cancels a post in progress and waits for its thread, which the cancellation wakes.
    ~BackgroundPost();
    BackgroundPost(const BackgroundPost&) = delete;
    BackgroundPost& operator=(const BackgroundPost&) = delete;

    /// From start() until `done` has run or the post was cancelled.
    bool isRunning() const { return m_state->running; }

    /// Starts posting `formLines` to `url`; false (and nothing started) while a post runs.
    bool start(std::string url, std::vector<std::string> formLines, Done done);

    /// Stops the post in progress and every later one (the client stays cancelled); the `done`
    /// of a cancelled post never runs.
    void cancel();

private:
    /// Owner-thread state that a finished post's hand-over checks, and that outlives this
    /// object for hand-overs still queued when it goes.
    struct State {
        bool running = false;
        bool cancelled = false;
    };

    void joinFinished();

    HttpClient& m_client;
    Dispatcher& m_dispatcher;
    std::shared_ptr<State> m_state = std::make_shared<State>();
    std::thread m_thread;
};

}  // namespace qvlink
