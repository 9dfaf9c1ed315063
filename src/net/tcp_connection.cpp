#include "net/tcp_connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "net/host_address.h"
#include "net/socket_error.h"
#include "net/transport_error.h"

namespace qvlink {

TcpConnection::TcpConnection(std::string_view boundIP, std::string_view host, int port,
                             const ConnectionTimeouts& timeouts, const Cancellation* cancellation)
    : m_socket(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)),
      m_timeouts(timeouts),
      m_cancellation(cancellation) {
    if (!m_socket) {
        throwSocketError(errno);
    }
    connectTo(boundIP, host, port);
}

TcpConnection::~TcpConnection() {
    shutdown(m_socket.get(), SHUT_WR);
}

void TcpConnection::connectTo(std::string_view boundIP, std::string_view host, int port) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = localBindAddress(boundIP);
    if (bind(m_socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        throwSocketError(errno);
    }

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr = resolveHost(host);
    if (port < 1 || port > 65535) {
        throwSocketError(EADDRNOTAVAIL);
    }
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(m_socket.get(), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) {
        return;
    }
    if (errno != EINPROGRESS) {
        throwSocketError(errno);
    }
    waitUntilReady(POLLOUT, Clock::now() + m_timeouts.connect);
    int failure = 0;
    socklen_t length = sizeof failure;
    if (getsockopt(m_socket.get(), SOL_SOCKET, SO_ERROR, &failure, &length) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        throwSocketError(failure);
    }
}

void TcpConnection::sendAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(m_socket.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitUntilReady(POLLOUT, Clock::now() + m_timeouts.idle);
        } else if (errno != EINTR) {
            throwSocketError(errno);
        }
    }
}

void TcpConnection::startAnswerClock() {
    m_answerDeadline = Clock::now() + m_timeouts.answer;
}

std::size_t TcpConnection::read(char* buffer, std::size_t capacity) {
    for (;;) {
        // Checked before every read, so an answer that streams without pause also ends.
        if (Clock::now() >= m_answerDeadline) {
            throwSocketError(ETIMEDOUT);
        }
        const ssize_t received = recv(m_socket.get(), buffer, capacity, 0);
        if (received >= 0) {
            return static_cast<std::size_t>(received);
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitUntilReady(POLLIN, std::min(Clock::now() + m_timeouts.idle, m_answerDeadline));
        } else if (errno != EINTR) {
            throwSocketError(errno);
        }
    }
}

// Waits until the socket reports `events` (or an error or hang-up, which the next call then
// reports), failing with the time-out message at `deadline` and with kCancelledMessage as soon
// as the cancellation is raised.
void TcpConnection::waitUntilReady(short events, Clock::time_point deadline) {
    pollfd watched[2] = {{m_socket.get(), events, 0}, {-1, POLLIN, 0}};
    if (m_cancellation != nullptr) {
        watched[1].fd = m_cancellation->fd();
    }
    for (;;) {
        if (m_cancellation != nullptr && m_cancellation->isCancelled()) {
            throw TransportError(kCancelledMessage);
        }
        const auto remaining =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining <= 0) {
            throwSocketError(ETIMEDOUT);
        }
        const int ready = poll(watched, 2, static_cast<int>(std::min<long long>(remaining, 60000)));
        if (ready > 0 && watched[0].revents != 0) {
            return;
        }
        if (ready < 0 && errno != EINTR) {
            throwSocketError(errno);
        }
    }
}

}  // namespace qvlink
