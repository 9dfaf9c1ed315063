#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "mqtt/mqtt_endpoint.h"

struct mosquitto;

namespace qvlink {

/// One message as it arrived. The views point into the library's buffer and are valid only
/// during the callback that receives them.
struct MqttMessage {
    std::string_view topic;
    std::span<const std::uint8_t> payload;
    bool retained = false;
};

/// A message the broker publishes for this client when the link dies without a goodbye.
struct MqttWill {
    std::string topic;
    std::string payload;
    int qos = 1;
    bool retain = true;
};

/// What the link calls. Both run on the link's network thread (never on the thread that owns
/// the link), one at a time; they must not destroy the link. `onConnection` reports each
/// change between up and down with a reason for the user; a broker that stays away gives one
/// "down", not one per attempt.
struct MqttLinkCallbacks {
    std::function<void(const MqttMessage&)> onMessage;
    std::function<void(bool up, const std::string& reason)> onConnection;
};

/// Tuning of a link; the defaults suit the programs.
struct MqttLinkSettings {
    std::string clientId;  ///< empty: the library makes a unique one
    std::optional<MqttWill> will;
    std::chrono::seconds keepAlive{30};
    /// Reconnect back-off: the first retry after `reconnectMin`, doubling up to `reconnectMax`.
    std::chrono::seconds reconnectMin{1};
    std::chrono::seconds reconnectMax{30};
};

/// A connection to a broker with a network thread of its own, which connects, reconnects with
/// back-off after a loss, resubscribes and delivers messages. Any thread may publish and
/// subscribe. The account is handed to the library only; the link never prints it.
class MqttLink {
public:
    /// Prepares the client (account, TLS, will). Throws TransportError with a text for the
    /// user when the library refuses them (an unreadable CA file, for one).
    MqttLink(const MqttEndpoint& endpoint, MqttLinkSettings settings, MqttLinkCallbacks callbacks);
    /// Says goodbye to the broker if connected (so the will is not published) and ends the
    /// network thread; no callback runs after it has returned.
    ~MqttLink();
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    /// Starts the network thread and the first connection attempt; returns at once. A first
    /// attempt that fails at once (no route, nobody listening) is reported through
    /// onConnection(false, ...) on the caller's thread, then retried by the network thread.
    void start();

    /// Hands a message to the library for sending; false when the library refused it (QoS 0
    /// with no connection open or under way, a payload too large, no memory). QoS 1 and 2
    /// messages, and QoS 0 ones while a connection is under way, wait in the library without
    /// bound: a caller that must bound what waits checks connected() first.
    bool publish(const std::string& topic, std::span<const std::uint8_t> payload, int qos,
                 bool retain);
    bool publish(const std::string& topic, std::string_view payload, int qos, bool retain);

    /// Subscribes now if connected and again after every reconnect. Topic filters may hold
    /// wildcards.
    void subscribe(const std::string& topicFilter, int qos);

    /// Whether the broker accepted the current connection.
    bool connected() const;

    /// Messages published that the library has not finished with: QoS 0 ones not yet
    /// written to the broker, QoS 1 and 2 ones it has not acknowledged. A publisher that keeps
    /// this small keeps its backlog in its own hands instead of the library's.
    std::size_t unconfirmed() const;

    /// The text of the last connection failure ("" while none happened).
    std::string lastError() const;

    struct State;  // shared with the library's callbacks

private:
    void configure(const MqttEndpoint& endpoint);
    /// The network thread: runs the connection, and after a loss pauses with back-off and
    /// connects again, until the link closes. `attempting`: a connection is under way.
    void run(bool attempting);
    void reportFailure(int result);
    /// Waits `pause` or until the link closes; true when it closes.
    bool pauseUnlessClosing(std::chrono::seconds pause);
    void sayGoodbye();

    std::unique_ptr<State> m_state;
    MqttUrl m_endpoint;
    MqttLinkSettings m_settings;
    mosquitto* m_client = nullptr;
    std::thread m_thread;
};

}  // namespace qvlink
