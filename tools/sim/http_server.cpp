#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "common/dotted_quad.h"
#include "http_request.h"

namespace qvlink::sim {
namespace {

constexpr auto kRequestTimeLimit = std::chrono::seconds(5);
constexpr int kBacklog = 8;
constexpr const char* kReprogAnswer = "firmware update mode: the device restarts\r\n";

std::string peerText(const sockaddr_in& address) {
    std::array<char, INET_ADDRSTRLEN> text{};
    inet_ntop(AF_INET, &address.sin_addr, text.data(), text.size());
    return std::string(text.data()) + ":" + std::to_string(ntohs(address.sin_port));
}

void sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t rc = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (rc <= 0) {
            if (rc < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;  // a small answer on a fresh connection: the buffer drains at once
            }
            return;
        }
        sent += static_cast<std::size_t>(rc);
    }
}

}  // namespace

bool HttpServer::listen(std::size_t device, const std::string& ip, std::string& error) {
    stopListening(device);
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const std::optional<std::uint32_t> address = parseDottedQuad(ip);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(m_port);
    local.sin_addr.s_addr = htonl(address.value_or(INADDR_ANY));
    const int on = 1;
    if (!fd || !address || setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(fd.get(), kBacklog) != 0) {
        error =
            "cannot listen on " + ip + ":" + std::to_string(m_port) + ": " + std::strerror(errno);
        return false;
    }
    m_listeners.push_back({device, std::move(fd)});
    return true;
}

void HttpServer::stopListening(std::size_t device) {
    std::erase_if(m_listeners, [device](const Listener& l) { return l.device == device; });
}

void HttpServer::appendPollFds(std::vector<pollfd>& fds) const {
    for (const Listener& listener : m_listeners) {
        fds.push_back({listener.fd.get(), POLLIN, 0});
    }
    for (const Connection& connection : m_connections) {
        fds.push_back({connection.fd.get(), POLLIN, 0});
    }
}

void HttpServer::service(std::span<const pollfd> fds, Clock::time_point now,
                         const ExchangeHandler& handler) {
    const std::size_t listeners = m_listeners.size();
    for (std::size_t i = 0; i < listeners && i < fds.size(); ++i) {
        if (fds[i].revents != 0) {
            accept(m_listeners[i], now);
        }
    }
    for (std::size_t i = 0; i < m_connections.size() && listeners + i < fds.size(); ++i) {
        if (fds[listeners + i].revents != 0) {
            read(m_connections[i], handler);
        }
    }
    for (Connection& connection : m_connections) {
        if (!connection.done && now >= connection.deadline) {
            handler({connection.device, connection.peer, "?", 0, false});
            connection.done = true;
        }
    }
    std::erase_if(m_connections, [](const Connection& c) { return c.done; });
    for (Connection& connection : m_accepted) {
        m_connections.push_back(std::move(connection));
    }
    m_accepted.clear();
}

void HttpServer::accept(const Listener& listener, Clock::time_point now) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        const int fd = ::accept4(listener.fd.get(), reinterpret_cast<sockaddr*>(&peer), &size,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        m_accepted.push_back(
            {listener.device, UniqueFd(fd), peerText(peer), {}, now + kRequestTimeLimit});
    }
}

void HttpServer::read(Connection& connection, const ExchangeHandler& handler) {
    std::array<char, 4096> buffer{};
    bool closed = false;
    for (;;) {
        const ssize_t size = ::recv(connection.fd.get(), buffer.data(), buffer.size(), 0);
        if (size > 0) {
            connection.received.append(buffer.data(), static_cast<std::size_t>(size));
            continue;
        }
        closed = size == 0 || (errno != EAGAIN && errno != EINTR);
        break;
    }

    HttpRequest request;
    const HttpParse parsed = parseHttpRequest(connection.received, request);
    if (parsed == HttpParse::Incomplete) {
        if (closed) {  // the client left before a whole request arrived
            handler({connection.device, connection.peer, "?", 0, false});
            connection.done = true;
        }
        return;
    }
    HttpExchange exchange{connection.device, connection.peer, "?", 400, false};
    std::string answer = httpResponse(400, "Bad Request", "bad request\r\n");
    if (parsed == HttpParse::Complete) {
        exchange.request = request.method + " " + request.target;
        exchange.reprog = isReprogRequest(request);
        exchange.status = exchange.reprog ? 200 : 404;
        answer = exchange.reprog ? httpResponse(200, "OK", kReprogAnswer)
                                 : httpResponse(404, "Not Found", "not found\r\n");
    }
    sendAll(connection.fd.get(), answer);
    ::shutdown(connection.fd.get(), SHUT_WR);
    connection.done = true;
    handler(exchange);
}

}  // namespace qvlink::sim
