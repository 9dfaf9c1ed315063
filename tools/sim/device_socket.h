#pragma once

// The UDP sockets the devices send from, one per device bound to its own address.

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "common/bus_types.h"
#include "common/unique_fd.h"

namespace qvlink::sim {

/// IPv4 address of `host` ("localhost", a dotted quad or a name) and `port`. Throws SimError.
sockaddr_in resolveIpv4(const std::string& host, std::uint16_t port);

class DeviceSocket {
public:
    /// A UDP socket bound to `ip`:`port` (0: ephemeral) that may send broadcasts, and when
    /// `peer` is given connected to it, which spares the system a route look-up per
    /// datagram. Throws SimError when the address cannot be bound (not local, port taken).
    DeviceSocket(const std::string& ip, std::uint16_t port, const sockaddr_in* peer = nullptr);

    int fd() const { return m_fd.get(); }
    bool connected() const { return m_connected; }
    void disconnect();
    /// Sends one datagram; false with errno set when the system refuses it.
    bool sendTo(const sockaddr_in& target, std::span<const std::uint8_t> datagram) const;

private:
    UniqueFd m_fd;
    bool m_connected = false;
};

/// Collects datagrams of one device and sends them with as few system calls as possible.
class BatchSender {
public:
    static constexpr std::size_t kCapacity = 64;

    explicit BatchSender(const sockaddr_in& target);
    BatchSender(const BatchSender&) = delete;
    BatchSender& operator=(const BatchSender&) = delete;

    /// Queues a copy of a datagram of at most 240 bytes; false when the batch is full.
    bool add(std::span<const std::uint8_t> datagram);
    std::size_t size() const { return m_count; }
    /// Sends the queued datagrams from `socket` (to the target, or to its peer when it is
    /// connected; a connected socket whose peer has no listener is disconnected) and empties
    /// the batch. Returns how many went out; the rest were refused by
    /// the system (errno of the first refusal in `error`).
    std::size_t flush(DeviceSocket& socket, int& error);

private:
    void address(const DeviceSocket& socket);

    sockaddr_in m_target;
    std::array<std::array<std::uint8_t, kMaxDatagramSize>, kCapacity> m_buffers{};
    std::array<iovec, kCapacity> m_iov{};
    std::array<mmsghdr, kCapacity> m_messages{};
    std::size_t m_count = 0;
};

}  // namespace qvlink::sim
