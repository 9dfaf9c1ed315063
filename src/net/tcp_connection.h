#pragma once

#include <chrono>
#include <string_view>

#include "common/unique_fd.h"
#include "net/byte_source.h"
#include "net/cancellation.h"

namespace qvlink {

/// Time limits of one form post. A device that accepts the connection and never answers, or
/// streams its answer forever, would otherwise hold the GUI thread for good. Exceeding any of
/// them fails with the socket error message for a timed-out connection (10060).
struct ConnectionTimeouts {
    /// The TCP handshake.
    std::chrono::milliseconds connect{15000};
    /// Each single wait for the device to send bytes or to take the request.
    std::chrono::milliseconds idle{15000};
    /// The whole answer, from the end of the request to the end of the body.
    std::chrono::milliseconds answer{20000};
};

/// A connected TCP socket with bounded waits. Closing shuts the sending direction down first.
class TcpConnection final : public ByteSource {
public:
    /// Binds to `boundIP` (empty: any address) port 0, resolves `host` (LOCALHOST, dotted quad,
    /// or by name) and connects to it. Failures raise TransportError. Every wait of the
    /// connection also ends when `cancellation` (if any; it must outlive the connection) is
    /// raised, failing with kCancelledMessage.
    TcpConnection(std::string_view boundIP, std::string_view host, int port,
                  const ConnectionTimeouts& timeouts, const Cancellation* cancellation = nullptr);
    ~TcpConnection() override;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    /// Hands all of `bytes` to the socket, repeating the send until they have gone.
    void sendAll(std::string_view bytes);

    /// Starts the limit on the whole answer.
    void startAnswerClock();

    std::size_t read(char* buffer, std::size_t capacity) override;

private:
    using Clock = std::chrono::steady_clock;

    void connectTo(std::string_view boundIP, std::string_view host, int port);
    void waitUntilReady(short events, Clock::time_point deadline);

    UniqueFd m_socket;
    ConnectionTimeouts m_timeouts;
    const Cancellation* m_cancellation;
    Clock::time_point m_answerDeadline = Clock::time_point::max();
};

}  // namespace qvlink
