#include "net/background_post.h"

namespace qvlink {

BackgroundPost::BackgroundPost(HttpClient& client, Dispatcher& dispatcher)
    : m_client(client), m_dispatcher(dispatcher) {}

BackgroundPost::~BackgroundPost() {
    cancel();
    joinFinished();
}

bool BackgroundPost::start(std::string url, std::vector<std::string> formLines, Done done) {
    if (m_state->running || m_state->cancelled) {
        return false;
    }
    joinFinished();
    m_state->running = true;
    std::weak_ptr<State> state = m_state;
    m_thread = std::thread([this, url = std::move(url), formLines = std::move(formLines),
                            done = std::move(done), state = std::move(state)]() mutable {
        std::exception_ptr failure;
        try {
            std::string response;
            m_client.PostForm(url, formLines, response);
        } catch (...) {
            failure = std::current_exception();
        }
        m_dispatcher.post([state = std::move(state), done = std::move(done), failure] {
            const std::shared_ptr<State> owner = state.lock();
            if (owner == nullptr || owner->cancelled) {
                return;
            }
            owner->running = false;
            done(failure);
        });
    });
    return true;
}

void BackgroundPost::cancel() {
    m_state->cancelled = true;
    m_state->running = false;
    m_client.cancel();
}

void BackgroundPost::joinFinished() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

}  // namespace qvlink
