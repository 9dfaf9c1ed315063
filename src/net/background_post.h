#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_fd.h"
#include "net/dispatcher.h"
#include "net/http_client.h"

namespace qvlink {

/// Runs an HttpClient form post on a thread of its own, so that the owner thread (the GUI
/// thread of the monitor) goes on receiving and painting while a device takes its time. The
/// worker signals its end on a descriptor that the owner thread watches through the
/// dispatcher, and the outcome is handed over there. One post at a time; every member is
/// called on the owner thread.
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
    bool isRunning() const { return m_watch != nullptr; }

    /// Starts posting `formLines` to `url`; false (and nothing started) while a post runs or
    /// after a cancellation.
    bool start(std::string url, std::vector<std::string> formLines, Done done);

    /// Stops the post in progress and every later one (the client stays cancelled); the `done`
    /// of a cancelled post never runs.
    void cancel();

private:
    /// The worker has signalled its end: joins it and hands the outcome over.
    void finish();
    void joinWorker();

    HttpClient& m_client;
    Dispatcher& m_dispatcher;
    bool m_cancelled = false;
    Done m_done;
    /// Written by the worker before it signals; read after it has been joined.
    std::exception_ptr m_failure;
    UniqueFd m_finished;  ///< an eventfd the worker writes once it is done
    std::unique_ptr<ReadableWatch> m_watch;
    std::thread m_worker;
};

}  // namespace qvlink
