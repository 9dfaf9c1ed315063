#include "net/udp_server.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>

#include "net/host_address.h"
#include "net/socket_error.h"
#include "net/transport_error.h"
#include "net/udp_listener.h"

namespace qvlink {
namespace {

// Asks for a larger kernel receive buffer so that a burst waits in the socket while the GUI
// thread is busy. Forcing needs privileges; without them the request is capped by the system
// limit. Either way a failure leaves the default buffer, which still works.
void enlargeReceiveBuffer(int socket, int bytes) {
    if (bytes <= 0) {
        return;
    }
    if (setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
        setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
}

sockaddr_in localAddress(const UdpBinding& binding) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = localBindAddress(binding.IP);
    if (binding.Port < 0 || binding.Port > 65535) {
        throwSocketError(EADDRNOTAVAIL);
    }
    local.sin_port = htons(static_cast<std::uint16_t>(binding.Port));
    return local;
}

}  // namespace

UdpServer::UdpServer(Dispatcher& dispatcher) : m_dispatcher(dispatcher) {}

UdpServer::~UdpServer() {
    stop();
}

void UdpServer::setBroadcastEnabled(bool enabled) {
    m_broadcastEnabled = enabled;
    if (isActive()) {
        applyBroadcast();
    }
}

int UdpServer::receiveBufferSize() const {
    if (m_current == nullptr) {
        return 0;
    }
    int size = 0;
    socklen_t length = sizeof size;
    if (getsockopt(m_current->socket(), SOL_SOCKET, SO_RCVBUF, &size, &length) != 0) {
        return 0;
    }
    return size;
}

std::uint64_t UdpServer::droppedDatagrams() const {
    return m_listener ? m_listener->droppedDatagrams() : 0;
}

UdpServer::Discards UdpServer::discardedDatagrams() const {
    return m_listener ? m_listener->discardedDatagrams() : Discards{};
}

UdpBinding& UdpServer::addBinding() {
    auto binding = std::make_unique<UdpBinding>();
    binding->Port = m_defaultPort;
    m_bindings.push_back(std::move(binding));
    return *m_bindings.back();
}

void UdpServer::setActive(bool active) {
    if (active == isActive()) {
        return;
    }
    if (active) {
        activate();
    } else {
        stop();
    }
}

void UdpServer::activate() {
    if (m_bindings.empty()) {
        if (m_defaultPort < 1) {
            throw TransportError("No bindings specified.");
        }
        addBinding();
    }
    try {
        if (m_bufferSize < 1) {
            throwSocketError(EINVAL);
        }
        std::vector<UdpListener::Slot> slots;
        for (const auto& binding : m_bindings) {
            bindSocket(*binding);
            slots.push_back({binding->socket(), binding.get()});
        }
        m_listener = std::make_unique<UdpListener>(*this, std::move(slots), m_bufferSize,
                                                   UdpListener::Handlers{m_onUDPRead, m_arrivalTap},
                                                   m_dispatcher, m_threadedEvent);
    } catch (...) {
        closeSockets();
        throw;
    }
    m_current = m_bindings.front().get();
    // A failure here leaves the endpoint bound and listening, as it is when the error shows.
    applyBroadcast();
}

void UdpServer::bindSocket(UdpBinding& binding) {
    binding.m_socket.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!binding.m_socket) {
        throw TransportError("Cannot allocate socket.");
    }
    const int socket = binding.m_socket.get();
    sockaddr_in local = localAddress(binding);
    enlargeReceiveBuffer(socket, m_receiveBufferRequest);
    const int reportDrops = 1;
    setsockopt(socket, SOL_SOCKET, SO_RXQ_OVFL, &reportDrops, sizeof reportDrops);
    if (bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        if (errno == EADDRINUSE) {
            throw TransportError("Could not bind socket. Address and port are already in use.");
        }
        throwSocketError(errno);
    }
    socklen_t length = sizeof local;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        throwSocketError(errno);
    }
    binding.IP = addressText(local.sin_addr);
    binding.Port = ntohs(local.sin_port);
}

void UdpServer::applyBroadcast() {
    const int permission = m_broadcastEnabled ? ~0 : 0;
    for (const auto& binding : m_bindings) {
        if (binding->m_socket && setsockopt(binding->socket(), SOL_SOCKET, SO_BROADCAST,
                                            &permission, sizeof permission) != 0) {
            throwSocketError(errno);
        }
    }
}

void UdpServer::stop() {
    if (m_listener) {
        m_listener->stop();
        m_listener.reset();
    }
    closeSockets();
    m_current = nullptr;
}

void UdpServer::closeSockets() {
    for (const auto& binding : m_bindings) {
        if (binding->m_socket) {
            shutdown(binding->socket(), SHUT_WR);
            binding->m_socket.reset();
        }
    }
}

void UdpServer::SendDatagram(std::string_view host, int port, const void* bytes,
                             std::size_t count) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = resolveHost(host);
    if (!isActive()) {
        activate();
    }
    if (port < 1 || port > 65535) {
        throwSocketError(EADDRNOTAVAIL);
    }
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    const ssize_t sent = sendto(m_current->socket(), bytes, count, 0,
                                reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent < 0) {
        if (errno == EMSGSIZE) {
            throw TransportError("Package Size Too Big.");
        }
        throwSocketError(errno);
    }
    if (static_cast<std::size_t>(sent) < count) {
        throw TransportError("Not all bytes sent.");
    }
}

}  // namespace qvlink
