#pragma once

// Each device's small web server: it answers the firmware-update form on the device's own
// address and reports every request it answered.

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/unique_fd.h"

namespace qvlink::sim {

/// What a device's web server answered, for the log and the device's reaction.
struct HttpExchange {
    std::size_t device = 0;
    std::string peer;     ///< "ip:port" of the client
    std::string request;  ///< "POST /", or "?" for a request that could not be read
    int status = 0;       ///< 0 when the client left before a whole request arrived
    bool reprog = false;  ///< the firmware-update form was posted
};

class HttpServer {
public:
    using Clock = std::chrono::steady_clock;
    using ExchangeHandler = std::function<void(const HttpExchange&)>;

    explicit HttpServer(std::uint16_t port) : m_port(port) {}

    /// Listens on `ip` for `device`, replacing an earlier listener of it. False, with the
    /// reason in `error`, when the address cannot be bound.
    bool listen(std::size_t device, const std::string& ip, std::string& error);
    void stopListening(std::size_t device);

    /// Appends the descriptors to wait on; service() takes the same entries back after poll.
    void appendPollFds(std::vector<pollfd>& fds) const;
    /// Accepts, reads and answers what `fds` reports ready, closes connections that sent no
    /// whole request within a few seconds, and reports every exchange to `handler`.
    void service(std::span<const pollfd> fds, Clock::time_point now,
                 const ExchangeHandler& handler);

private:
    struct Listener {
        std::size_t device;
        UniqueFd fd;
    };
    struct Connection {
        std::size_t device;
        UniqueFd fd;
        std::string peer;
        std::string received;
        Clock::time_point deadline;
        bool done = false;
    };

    void accept(const Listener& listener, Clock::time_point now);
    void read(Connection& connection, const ExchangeHandler& handler);

    std::uint16_t m_port;
    std::vector<Listener> m_listeners;
    std::vector<Connection> m_connections;
    std::vector<Connection> m_accepted;
};

}  // namespace qvlink::sim
