#pragma once

// The reference for the monitor's figures: a receiver that does nothing but count datagrams,
// on a socket set up like the monitor's (all interfaces, the same receive buffer), so the
// difference between the two is the monitor's own work.

#include <atomic>
#include <cstdint>
#include <thread>

#include "common/unique_fd.h"

namespace qvlink::bench {

enum class BareKind {
    Recvmmsg,  ///< batches of up to 64 datagrams per system call
    Recvfrom,  ///< one system call per datagram, as a plain receive loop does it
};

const char* bareKindName(BareKind kind);

class BareReceiver {
public:
    /// Binds an ephemeral port and starts counting on a thread of its own.
    BareReceiver(BareKind kind, int receiveBufferBytes);
    /// Stops the thread (stop() if not yet done) and closes the socket.
    ~BareReceiver();
    BareReceiver(const BareReceiver&) = delete;
    BareReceiver& operator=(const BareReceiver&) = delete;

    int port() const { return m_port; }
    std::uint64_t received() const { return m_received.load(std::memory_order_relaxed); }
    /// Ends the thread once the socket's queue is empty; afterwards cpuSeconds() is final.
    void stop();
    /// CPU time of the receiving thread (user + system).
    double cpuSeconds() const { return static_cast<double>(m_cpuNs) * 1e-9; }

private:
    void run();
    void receiveBatches();
    void receiveSingles();

    const BareKind m_kind;
    int m_port = 0;
    UniqueFd m_socket;
    std::atomic<std::uint64_t> m_received{0};
    std::atomic<bool> m_stop{false};
    std::int64_t m_cpuNs = 0;
    std::thread m_thread;
};

}  // namespace qvlink::bench
