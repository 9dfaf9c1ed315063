#include "bare_receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "process_stats.h"

namespace qvlink::bench {
namespace {

constexpr int kBatch = 64;
/// The monitor's receive buffer: bigger than any datagram of the bus.
constexpr std::size_t kBufferSize = 240;
/// How often a waiting receive looks at the stop request.
constexpr timeval kReceiveTimeout{0, 100'000};

}  // namespace

const char* bareKindName(BareKind kind) {
    return kind == BareKind::Recvmmsg ? "bare recvmmsg" : "bare recvfrom";
}

BareReceiver::BareReceiver(BareKind kind, int receiveBufferBytes) : m_kind(kind) {
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    if (setsockopt(m_socket, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferBytes,
                   sizeof receiveBufferBytes) != 0) {
        setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    }
    setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &kReceiveTimeout, sizeof kReceiveTimeout);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof local;
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        close(m_socket);
        throw std::runtime_error(std::string("bind: ") + std::strerror(errno));
    }
    m_port = ntohs(local.sin_port);
    m_thread = std::thread([this] { run(); });
}

BareReceiver::~BareReceiver() {
    stop();
    close(m_socket);
}

void BareReceiver::stop() {
    m_stop.store(true);
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void BareReceiver::run() {
    const std::int64_t start = threadCpuNs();
    if (m_kind == BareKind::Recvmmsg) {
        receiveBatches();
    } else {
        receiveSingles();
    }
    m_cpuNs = threadCpuNs() - start;
}

// The loops end on a timed-out receive after the stop request: the queue is empty then.
void BareReceiver::receiveBatches() {
    std::array<std::array<std::uint8_t, kBufferSize>, kBatch> buffers{};
    std::array<sockaddr_in, kBatch> senders{};
    std::array<iovec, kBatch> vectors{};
    std::array<mmsghdr, kBatch> messages{};
    for (int i = 0; i < kBatch; ++i) {
        vectors[i] = {buffers[i].data(), buffers[i].size()};
        messages[i].msg_hdr.msg_name = &senders[i];
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    for (;;) {
        for (auto& message : messages) {
            message.msg_hdr.msg_namelen = sizeof(sockaddr_in);
        }
        const int got = recvmmsg(m_socket, messages.data(), kBatch, MSG_WAITFORONE, nullptr);
        if (got > 0) {
            m_received.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
        } else if (m_stop.load()) {
            return;
        }
    }
}

void BareReceiver::receiveSingles() {
    std::array<std::uint8_t, kBufferSize> buffer{};
    for (;;) {
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        const ssize_t got = recvfrom(m_socket, buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&sender), &length);
        if (got >= 0) {
            m_received.fetch_add(1, std::memory_order_relaxed);
        } else if (m_stop.load()) {
            return;
        }
    }
}

}  // namespace qvlink::bench
