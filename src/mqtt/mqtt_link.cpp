#include "mqtt/mqtt_link.h"

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "net/transport_error.h"

namespace qvlink {
namespace {

/// The library's global set-up, once per process; it is never torn down, since another link
/// may start at any time.
void initialiseLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

/// Where an insecure TLS link still lets the library look for authorities (it wants one).
constexpr const char* kSystemCaFolder = "/etc/ssl/certs";

void check(int result, const std::string& what) {
    if (result != MOSQ_ERR_SUCCESS) {
        throw TransportError(what + ": " + mosquitto_strerror(result));
    }
}

}  // namespace

struct MqttLink::State {
    MqttLinkCallbacks callbacks;
    std::string brokerText;
    std::atomic<bool> connected{false};
    /// Set before the goodbye, so that nothing is delivered to an owner that is going away.
    std::atomic<bool> closing{false};
    /// Set by each accepted connection: the next loss retries after the shortest delay again.
    std::atomic<bool> accepted{false};

    std::mutex wakeMutex;  // with `wake`, ends a back-off pause early when the link closes
    std::condition_variable wake;

    std::mutex mutex;  // guards the members below
    std::vector<std::pair<std::string, int>> subscriptions;
    std::optional<bool> reportedUp;
    std::string lastError;

    /// Calls onConnection when `up` differs from what was reported last.
    void report(bool up, const std::string& reason) {
        {
            std::lock_guard lock(mutex);
            if (!up) {
                lastError = reason;
            }
            if (reportedUp == up) {
                return;
            }
            reportedUp = up;
        }
        if (callbacks.onConnection && !closing) {
            callbacks.onConnection(up, reason);
        }
    }

    /// Messages the library holds by message id, with their QoS. The library may finish one
    /// before publish() has learnt its id: such ids wait in `finishedEarly`.
    std::mutex publishMutex;
    std::map<int, int> unconfirmed;
    std::set<int> finishedEarly;

    void handedOver(int mid, int qos) {
        std::lock_guard lock(publishMutex);
        if (finishedEarly.erase(mid) == 0) {
            unconfirmed[mid] = qos;
        }
    }
    void finished(int mid) {
        std::lock_guard lock(publishMutex);
        if (unconfirmed.erase(mid) == 0) {
            finishedEarly.insert(mid);
        }
    }
    /// A lost connection discards the QoS 0 messages not yet written; the others are sent
    /// again after the next connection.
    void forgetUnsentQos0() {
        std::lock_guard lock(publishMutex);
        std::erase_if(unconfirmed, [](const auto& entry) { return entry.second == 0; });
    }

    void resubscribe(mosquitto* client) {
        std::lock_guard lock(mutex);
        for (const auto& [filter, qos] : subscriptions) {
            mosquitto_subscribe(client, nullptr, filter.c_str(), qos);
        }
    }
};

namespace {

MqttLink::State& stateOf(void* object) {
    return *static_cast<MqttLink::State*>(object);
}

void onConnect(mosquitto* client, void* object, int result) {
    auto& state = stateOf(object);
    if (result != 0) {
        state.connected = false;
        state.report(false, "broker " + state.brokerText +
                                " refused the connection: " + mosquitto_connack_string(result));
        return;
    }
    state.connected = true;
    state.accepted = true;
    state.resubscribe(client);
    state.report(true, "connected to broker " + state.brokerText);
}

void onDisconnect(mosquitto*, void* object, int result) {
    auto& state = stateOf(object);
    state.connected = false;
    state.forgetUnsentQos0();
    const std::string why = result == 0 ? "disconnected" : mosquitto_strerror(result);
    state.report(false, "link to broker " + state.brokerText + " lost: " + why);
}

void onPublish(mosquitto*, void* object, int mid) {
    stateOf(object).finished(mid);
}

void onMessage(mosquitto*, void* object, const mosquitto_message* message) {
    auto& state = stateOf(object);
    if (!state.callbacks.onMessage || state.closing) {
        return;
    }
    MqttMessage delivered;
    delivered.topic = message->topic;
    delivered.payload = {static_cast<const std::uint8_t*>(message->payload),
                         static_cast<std::size_t>(message->payloadlen)};
    delivered.retained = message->retain;
    state.callbacks.onMessage(delivered);
}

void configureTls(mosquitto* client, const MqttTls& tls) {
    if (tls.verify) {
        check(mosquitto_tls_set(client, tls.caFile.c_str(), nullptr, nullptr, nullptr, nullptr),
              "CA file \"" + tls.caFile + "\"");
        return;
    }
    check(mosquitto_tls_set(client, nullptr, kSystemCaFolder, nullptr, nullptr, nullptr),
          "TLS set-up");
    check(mosquitto_tls_opts_set(client, 0 /* SSL_VERIFY_NONE */, nullptr, nullptr), "TLS set-up");
    check(mosquitto_tls_insecure_set(client, true), "TLS set-up");
}

}  // namespace

MqttLink::MqttLink(const MqttEndpoint& endpoint, MqttLinkSettings settings,
                   MqttLinkCallbacks callbacks)
    : m_state(std::make_unique<State>()), m_endpoint(endpoint.url), m_settings(settings) {
    initialiseLibraryOnce();
    m_state->callbacks = std::move(callbacks);
    m_state->brokerText = endpoint.url.host + ":" + std::to_string(endpoint.url.port);
    const char* id = settings.clientId.empty() ? nullptr : settings.clientId.c_str();
    m_client = mosquitto_new(id, true, m_state.get());
    if (m_client == nullptr) {
        throw TransportError("cannot create an MQTT client: out of memory");
    }
    try {
        configure(endpoint);
    } catch (...) {
        mosquitto_destroy(m_client);
        throw;
    }
}

void MqttLink::configure(const MqttEndpoint& endpoint) {
    mosquitto_connect_callback_set(m_client, onConnect);
    mosquitto_disconnect_callback_set(m_client, onDisconnect);
    mosquitto_message_callback_set(m_client, onMessage);
    mosquitto_publish_callback_set(m_client, onPublish);
    if (!endpoint.credentials.empty()) {
        const auto& account = endpoint.credentials;
        check(mosquitto_username_pw_set(
                  m_client, account.user.c_str(),
                  account.password.empty() ? nullptr : account.password.c_str()),
              "MQTT account");
    }
    if (endpoint.url.tls) {
        configureTls(m_client, endpoint.tls);
    }
    if (m_settings.will) {
        const MqttWill& will = *m_settings.will;
        check(
            mosquitto_will_set(m_client, will.topic.c_str(), static_cast<int>(will.payload.size()),
                               will.payload.data(), will.qos, will.retain),
            "MQTT last will");
    }
}

MqttLink::~MqttLink() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_state->wakeMutex);
            m_state->closing = true;
        }
        m_state->wake.notify_all();
        m_thread.join();
    }
    mosquitto_destroy(m_client);
}

void MqttLink::start() {
    // The network thread alone reads and writes the socket; other threads only queue.
    mosquitto_threaded_set(m_client, true);
    const int result = mosquitto_connect_async(m_client, m_endpoint.host.c_str(), m_endpoint.port,
                                               static_cast<int>(m_settings.keepAlive.count()));
    if (result != MOSQ_ERR_SUCCESS) {
        reportFailure(result);
    }
    m_thread = std::thread([this, attempting = result == MOSQ_ERR_SUCCESS] { run(attempting); });
}

void MqttLink::reportFailure(int result) {
    m_state->report(
        false, "cannot reach broker " + m_state->brokerText + ": " + mosquitto_strerror(result));
}

void MqttLink::run(bool attempting) {
    // How often the thread looks at its closing flag while the link is quiet.
    constexpr int kLoopTimeoutMs = 100;
    std::chrono::seconds delay = m_settings.reconnectMin;
    while (!m_state->closing) {
        if (attempting) {
            const int result = mosquitto_loop(m_client, kLoopTimeoutMs, 1);
            if (result == MOSQ_ERR_SUCCESS) {
                continue;
            }
            m_state->connected = false;
            reportFailure(result);
            attempting = false;
        }
        if (m_state->accepted.exchange(false)) {
            delay = m_settings.reconnectMin;
        }
        if (pauseUnlessClosing(delay)) {
            break;
        }
        delay = std::min(delay * 2, m_settings.reconnectMax);
        const int result = mosquitto_reconnect_async(m_client);
        attempting = result == MOSQ_ERR_SUCCESS;
        if (!attempting) {
            reportFailure(result);
        }
    }
    sayGoodbye();
}

bool MqttLink::pauseUnlessClosing(std::chrono::seconds pause) {
    std::unique_lock lock(m_state->wakeMutex);
    return m_state->wake.wait_for(lock, pause, [this] { return m_state->closing.load(); });
}

void MqttLink::sayGoodbye() {
    if (!m_state->connected) {
        return;
    }
    // The DISCONNECT packet only leaves when the loop writes it; the library then closes.
    mosquitto_disconnect(m_client);
    constexpr int kGoodbyeTimeoutMs = 100;
    for (int round = 0; round < 10 && mosquitto_socket(m_client) >= 0; ++round) {
        mosquitto_loop(m_client, kGoodbyeTimeoutMs, 1);
    }
}

bool MqttLink::publish(const std::string& topic, std::span<const std::uint8_t> payload, int qos,
                       bool retain) {
    // The protocol's largest payload, and it keeps the library's int length from wrapping.
    constexpr std::size_t kMaxPayload = 268'435'455;
    if (payload.size() > kMaxPayload) {
        return false;
    }
    int mid = 0;
    if (mosquitto_publish(m_client, &mid, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), qos, retain) != MOSQ_ERR_SUCCESS) {
        return false;
    }
    m_state->handedOver(mid, qos);
    return true;
}

std::size_t MqttLink::unconfirmed() const {
    std::lock_guard lock(m_state->publishMutex);
    return m_state->unconfirmed.size();
}

bool MqttLink::publish(const std::string& topic, std::string_view payload, int qos, bool retain) {
    return publish(topic, {reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()},
                   qos, retain);
}

void MqttLink::subscribe(const std::string& topicFilter, int qos) {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->subscriptions.emplace_back(topicFilter, qos);
    }
    if (m_state->connected) {
        mosquitto_subscribe(m_client, nullptr, topicFilter.c_str(), qos);
    }
}

bool MqttLink::connected() const {
    return m_state->connected;
}

std::string MqttLink::lastError() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->lastError;
}

}  // namespace qvlink
