#include "counting_socket.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace qvlink::bench {

UniqueFd openCountingSocket(int receiveBufferBytes, int& port) {
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int fd = socket.get();
    if (!socket) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferBytes,
                   sizeof receiveBufferBytes) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof local;
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        throw std::runtime_error(std::string("bind: ") + std::strerror(errno));
    }
    port = ntohs(local.sin_port);
    return socket;
}

ReceiveBatch::ReceiveBatch() {
    for (int i = 0; i < kSize; ++i) {
        m_vectors[i] = {m_buffers[i].data(), m_buffers[i].size()};
        m_messages[i].msg_hdr.msg_name = &m_senders[i];
        m_messages[i].msg_hdr.msg_iov = &m_vectors[i];
        m_messages[i].msg_hdr.msg_iovlen = 1;
    }
}

int ReceiveBatch::receive(int socket, int flags) {
    for (mmsghdr& message : m_messages) {
        message.msg_hdr.msg_namelen = sizeof(sockaddr_in);
    }
    return recvmmsg(socket, m_messages.data(), kSize, flags, nullptr);
}

}  // namespace qvlink::bench
