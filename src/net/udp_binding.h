#pragma once

#include <string>

#include "common/unique_fd.h"

namespace qvlink {

/// One local address of the UDP endpoint. The first binding of an active endpoint is also the
/// socket that datagrams are sent from.
class UdpBinding {
public:
    /// Local IPv4 address in dotted decimal; empty or "0.0.0.0" binds every interface. Refreshed
    /// from the socket after binding.
    std::string IP;
    /// Local port, 0..65535; 0 binds an ephemeral port. Refreshed from the socket after binding.
    int Port = 0;
    /// Sender of the datagram being delivered: dotted decimal without leading zeros.
    std::string SenderIP;
    /// Sender's UDP port of the datagram being delivered.
    int SenderPort = 0;

    /// The bound socket, -1 while the endpoint is inactive.
    int socket() const { return m_socket.get(); }

private:
    friend class UdpServer;
    UniqueFd m_socket;
};

}  // namespace qvlink
