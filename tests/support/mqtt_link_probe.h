#pragma once

// Callbacks of an MqttLink that record what arrived, and waits on it, for the broker tests.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "mqtt/mqtt_link.h"

namespace qvlink::test {

class LinkProbe {
public:
    struct Message {
        std::string topic;
        std::vector<std::uint8_t> payload;
        bool retained;
    };

    MqttLinkCallbacks callbacks() {
        return {[this](const MqttMessage& message) {
                    std::lock_guard lock(m_mutex);
                    m_messages.push_back({std::string(message.topic),
                                          {message.payload.begin(), message.payload.end()},
                                          message.retained});
                    m_changed.notify_all();
                },
                [this](bool up, const std::string& reason) {
                    std::lock_guard lock(m_mutex);
                    m_connections.push_back({up, reason});
                    m_changed.notify_all();
                }};
    }

    /// Waits until `done()` holds (called under the probe's lock) or `timeout` passes.
    template <typename Predicate>
    bool waitFor(Predicate done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, done);
    }

    /// Waits until the last report says `up`.
    bool waitForLink(bool up, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return waitFor([&] { return !m_connections.empty() && m_connections.back().up == up; },
                       timeout);
    }

    bool waitForMessages(std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return waitFor([&] { return m_messages.size() >= count; }, timeout);
    }

    std::vector<Message> messages() {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

    struct Connection {
        bool up;
        std::string reason;
    };
    std::vector<Connection> connections() {
        std::lock_guard lock(m_mutex);
        return m_connections;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Message> m_messages;
    std::vector<Connection> m_connections;
};

}  // namespace qvlink::test
