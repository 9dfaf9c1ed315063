#include "device_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <strings.h>

#include <cerrno>
#include <cstring>

#include "common/dotted_quad.h"
#include "sim_error.h"

namespace qvlink::sim {

sockaddr_in resolveIpv4(const std::string& host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (strcasecmp(host.c_str(), "localhost") == 0) {
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    if (const std::optional<std::uint32_t> quad = parseDottedQuad(host)) {
        address.sin_addr.s_addr = htonl(*quad);
        return address;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found); rc != 0) {
        throw SimError("cannot resolve " + host + ": " + gai_strerror(rc));
    }
    address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return address;
}

DeviceSocket::DeviceSocket(const std::string& ip, std::uint16_t port, const sockaddr_in* peer)
    : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (!m_fd) {
        throw systemError("cannot create a UDP socket", errno);
    }
    const int on = 1;
    setsockopt(m_fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    const std::optional<std::uint32_t> address = parseDottedQuad(ip);
    if (!address) {
        throw SimError(ip + " is not an IPv4 address");
    }
    local.sin_addr.s_addr = htonl(*address);
    if (::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        throw systemError("cannot send from " + ip + ":" + std::to_string(port), errno);
    }
    if (peer != nullptr) {
        if (::connect(m_fd.get(), reinterpret_cast<const sockaddr*>(peer), sizeof *peer) != 0) {
            throw systemError("cannot send from " + ip + " to the target", errno);
        }
        m_connected = true;
    }
}

void DeviceSocket::disconnect() {
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    ::connect(m_fd.get(), &unspecified, sizeof unspecified);
    m_connected = false;
}

bool DeviceSocket::sendTo(const sockaddr_in& target, std::span<const std::uint8_t> datagram) const {
    return ::sendto(m_fd.get(), datagram.data(), datagram.size(), 0,
                    reinterpret_cast<const sockaddr*>(&target), sizeof target) >= 0;
}

BatchSender::BatchSender(const sockaddr_in& target) : m_target(target) {}

bool BatchSender::add(std::span<const std::uint8_t> datagram) {
    if (m_count == kCapacity || datagram.size() > kMaxDatagramSize) {
        return false;
    }
    std::memcpy(m_buffers[m_count].data(), datagram.data(), datagram.size());
    m_iov[m_count] = {m_buffers[m_count].data(), datagram.size()};
    msghdr& header = m_messages[m_count].msg_hdr;
    header = {};
    header.msg_iov = &m_iov[m_count];
    header.msg_iovlen = 1;
    ++m_count;
    return true;
}

void BatchSender::address(const DeviceSocket& socket) {
    for (std::size_t i = 0; i < m_count; ++i) {
        m_messages[i].msg_hdr.msg_name = socket.connected() ? nullptr : &m_target;
        m_messages[i].msg_hdr.msg_namelen = socket.connected() ? 0 : sizeof m_target;
    }
}

std::size_t BatchSender::flush(DeviceSocket& socket, int& error) {
    address(socket);
    std::size_t at = 0;
    std::size_t sent = 0;
    error = 0;
    while (at < m_count) {
        const int rc =
            ::sendmmsg(socket.fd(), m_messages.data() + at, static_cast<unsigned>(m_count - at), 0);
        if (rc >= 0) {
            at += static_cast<std::size_t>(rc);
            sent += static_cast<std::size_t>(rc);
        } else if (errno == ECONNREFUSED && socket.connected()) {
            // Nobody listens at the target: every datagram would now bring a "port
            // unreachable" back to a connected socket, so go on unconnected.
            socket.disconnect();
            address(socket);
        } else if (errno != EINTR) {
            error = error == 0 ? errno : error;
            ++at;  // the datagram at `at` was refused; go on with the rest
        }
    }
    m_count = 0;
    return sent;
}

}  // namespace qvlink::sim
