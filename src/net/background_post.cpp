#include "net/background_post.h"

#include <sys/eventfd.h>

#include <cerrno>

#include "net/socket_error.h"

namespace qvlink {

BackgroundPost::BackgroundPost(HttpClient& client, Dispatcher& dispatcher)
    : m_client(client), m_dispatcher(dispatcher) {}

BackgroundPost::~BackgroundPost() {
    cancel();
    joinWorker();
}

bool BackgroundPost::start(std::string url, std::vector<std::string> formLines, Done done) {
    if (isRunning() || m_cancelled) {
        return false;
    }
    joinWorker();
    m_finished = UniqueFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!m_finished) {
        throwSocketError(errno);
    }
    m_done = std::move(done);
    m_failure = nullptr;
    m_watch = m_dispatcher.watchReadable(m_finished.get(), [this] { finish(); });
    m_worker = std::thread([this, url = std::move(url), formLines = std::move(formLines),
                            finished = m_finished.get()] {
        try {
            std::string response;
            m_client.PostForm(url, formLines, response);
        } catch (...) {
            m_failure = std::current_exception();
        }
        static_cast<void>(eventfd_write(finished, 1));
    });
    return true;
}

void BackgroundPost::finish() {
    m_watch.reset();
    joinWorker();
    const Done done = std::exchange(m_done, nullptr);
    done(m_failure);
}

void BackgroundPost::cancel() {
    m_cancelled = true;
    m_watch.reset();
    m_done = nullptr;
    m_client.cancel();
}

void BackgroundPost::joinWorker() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

}  // namespace qvlink
