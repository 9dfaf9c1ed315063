#include "test_http_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace qvlink::test {
namespace {

// Reads up to the empty line and then as many body bytes as Content-Length announces.
std::string readRequest(int connection) {
    std::string request;
    char buffer[4096];
    std::size_t expected = std::string::npos;
    while (expected == std::string::npos || request.size() < expected) {
        const ssize_t size = recv(connection, buffer, sizeof buffer, 0);
        if (size <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(size));
        const std::size_t headEnd = request.find("\r\n\r\n");
        if (expected == std::string::npos && headEnd != std::string::npos) {
            const std::size_t field = request.find("Content-Length: ");
            const std::size_t length =
                field < headEnd ? std::strtoul(request.c_str() + field + 16, nullptr, 10) : 0;
            expected = headEnd + 4 + length;
        }
    }
    return request;
}

}  // namespace

TestHttpServer::TestHttpServer(int backlog) {
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listener, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    listen(m_listener, backlog);
    socklen_t length = sizeof local;
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&local), &length);
    m_port = ntohs(local.sin_port);
}

TestHttpServer::~TestHttpServer() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    close(m_listener);
}

void TestHttpServer::serve(Answer answer, bool readRequestFirst) {
    m_thread = std::thread([this, readRequestFirst, answer = std::move(answer)] {
        const int connection = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            return;
        }
        if (readRequestFirst) {
            m_request = readRequest(connection);
        }
        answer(connection);
        close(connection);
    });
}

std::string TestHttpServer::request() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_request;
}

bool TestHttpServer::hasPendingConnection() const {
    pollfd watched{m_listener, POLLIN, 0};
    return poll(&watched, 1, 0) > 0;
}

TestHttpServer::Answer TestHttpServer::reply(std::string bytes) {
    return [bytes = std::move(bytes)](int connection) { sendAll(connection, bytes); };
}

bool TestHttpServer::sendAll(int connection, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool TestHttpServer::waitForClientClose(int connection) {
    pollfd watched{connection, POLLIN, 0};
    char discard[4096];
    while (poll(&watched, 1, 10000) > 0) {
        if (recv(connection, discard, sizeof discard, 0) <= 0) {
            return true;
        }
    }
    return false;
}

}  // namespace qvlink::test
