#pragma once

// A plain HTTP/1.0 request over a loopback TCP socket for tests of HTTP endpoints: the whole
// answer as sent, header and body.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace qvlink::test {

/// Sends `method` `path` to 127.0.0.1:`port` and reads until the server closes; empty when
/// nothing answers.
inline std::string httpExchange(std::uint16_t port, const std::string& method,
                                const std::string& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0) {
        const std::string request = method + ' ' + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
                answer.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return answer;
}

/// The body of an answer: what follows the blank line after the header.
inline std::string httpBody(const std::string& answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

}  // namespace qvlink::test
