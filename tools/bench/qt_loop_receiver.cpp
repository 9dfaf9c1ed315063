#include "qt_loop_receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace qvlink::bench {
namespace {

constexpr int kBatch = 64;
constexpr std::size_t kBufferSize = 240;

}  // namespace

QtLoopReceiver::QtLoopReceiver(int receiveBufferBytes) {
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    if (setsockopt(m_socket, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferBytes,
                   sizeof receiveBufferBytes) != 0) {
        setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    }
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
    m_notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { drain(); });
}

QtLoopReceiver::~QtLoopReceiver() {
    delete m_notifier;
    close(m_socket);
}

void QtLoopReceiver::drain() {
    std::array<std::array<std::uint8_t, kBufferSize>, kBatch> buffers{};
    std::array<sockaddr_in, kBatch> senders{};
    std::array<iovec, kBatch> vectors{};
    std::array<mmsghdr, kBatch> messages{};
    for (int i = 0; i < kBatch; ++i) {
        vectors[i] = {buffers[i].data(), buffers[i].size()};
        messages[i].msg_hdr.msg_name = &senders[i];
        messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    int got = 0;
    do {
        got = recvmmsg(m_socket, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (got > 0) {
            m_received += static_cast<std::uint64_t>(got);
        }
    } while (got == kBatch);
}

}  // namespace qvlink::bench
