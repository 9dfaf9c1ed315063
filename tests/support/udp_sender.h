#pragma once

// A plain UDP socket on loopback for tests: sends datagrams from a chosen 127.0.0.x address
// and receives what is sent to it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvlink::test {

class LoopbackUdpSocket {
public:
    /// Binds to `address`:`port` (port 0: an ephemeral one).
    explicit LoopbackUdpSocket(const char* address = "127.0.0.1", int port = 0)
        : m_fd(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in local = endpoint(address, port);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            throw std::runtime_error("cannot bind test socket");
        }
        socklen_t length = sizeof local;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length);
        m_port = ntohs(local.sin_port);
    }
    ~LoopbackUdpSocket() { ::close(m_fd); }
    LoopbackUdpSocket(const LoopbackUdpSocket&) = delete;
    LoopbackUdpSocket& operator=(const LoopbackUdpSocket&) = delete;

    int port() const { return m_port; }

    void sendTo(int port, const std::vector<std::uint8_t>& bytes,
                const char* address = "127.0.0.1") {
        const sockaddr_in to = endpoint(address, port);
        ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }

    /// The next datagram, or nothing after `timeoutMs`.
    std::optional<std::vector<std::uint8_t>> receive(int timeoutMs = 3000) {
        pollfd waitFor{m_fd, POLLIN, 0};
        if (::poll(&waitFor, 1, timeoutMs) <= 0) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> bytes(65536);
        const ssize_t size = ::recv(m_fd, bytes.data(), bytes.size(), 0);
        bytes.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
        return bytes;
    }

private:
    static sockaddr_in endpoint(const char* address, int port) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, address, &at.sin_addr);
        return at;
    }

    int m_fd;
    int m_port = 0;
};

}  // namespace qvlink::test
