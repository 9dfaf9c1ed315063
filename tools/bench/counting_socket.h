#pragma once

// What the reference receivers share: a UDP socket set up like the monitor's (all
// interfaces, an ephemeral port, the same receive buffer), and room to take a batch of
// datagrams with one recvmmsg.

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/unique_fd.h"

namespace qvlink::bench {

/// Opens and binds the socket; throws std::runtime_error when that fails.
UniqueFd openCountingSocket(int receiveBufferBytes, int& port);

class ReceiveBatch {
public:
    static constexpr int kSize = 64;
    /// The monitor's receive buffer: bigger than any datagram of the bus.
    static constexpr std::size_t kBufferSize = 240;

    ReceiveBatch();
    ReceiveBatch(const ReceiveBatch&) = delete;
    ReceiveBatch& operator=(const ReceiveBatch&) = delete;

    /// recvmmsg of up to kSize datagrams with `flags`; its result.
    int receive(int socket, int flags);

private:
    std::array<std::array<std::uint8_t, kBufferSize>, kSize> m_buffers{};
    std::array<sockaddr_in, kSize> m_senders{};
    std::array<iovec, kSize> m_vectors{};
    std::array<mmsghdr, kSize> m_messages{};
};

}  // namespace qvlink::bench
