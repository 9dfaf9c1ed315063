#include "bare_receiver.h"

#include <sys/socket.h>

#include <array>

#include "counting_socket.h"
#include "process_stats.h"

namespace qvlink::bench {
namespace {

/// How often a waiting receive looks at the stop request.
constexpr timeval kReceiveTimeout{0, 100'000};

}  // namespace

const char* bareKindName(BareKind kind) {
    return kind == BareKind::Recvmmsg ? "bare recvmmsg" : "bare recvfrom";
}

BareReceiver::BareReceiver(BareKind kind, int receiveBufferBytes)
    : m_kind(kind), m_socket(openCountingSocket(receiveBufferBytes, m_port)) {
    setsockopt(m_socket.get(), SOL_SOCKET, SO_RCVTIMEO, &kReceiveTimeout, sizeof kReceiveTimeout);
    m_thread = std::thread([this] { run(); });
}

BareReceiver::~BareReceiver() {
    stop();
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
    ReceiveBatch batch;
    for (;;) {
        const int got = batch.receive(m_socket.get(), MSG_WAITFORONE);
        if (got > 0) {
            m_received.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
        } else if (m_stop.load()) {
            return;
        }
    }
}

void BareReceiver::receiveSingles() {
    std::array<std::uint8_t, ReceiveBatch::kBufferSize> buffer{};
    for (;;) {
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        const ssize_t got = recvfrom(m_socket.get(), buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&sender), &length);
        if (got >= 0) {
            m_received.fetch_add(1, std::memory_order_relaxed);
        } else if (m_stop.load()) {
            return;
        }
    }
}

}  // namespace qvlink::bench
