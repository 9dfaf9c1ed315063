#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace qvlink::test {

/// A TCP server on 127.0.0.1 and an ephemeral port that plays one scripted answer per
/// connection on a thread of its own and records the request it received.
class TestHttpServer {
public:
    /// A connection's script: gets the connected socket after the whole request has been read.
    using Answer = std::function<void(int connection)>;

    explicit TestHttpServer(int backlog = 4);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int port() const { return m_port; }

    /// Accepts the next connection on the serving thread, reads the request (head and a body of
    /// its Content-Length) unless told not to, then runs `answer` and closes the connection.
    void serve(Answer answer, bool readRequestFirst = true);

    /// Waits until the serving thread is done and returns the request it read.
    std::string request();

    /// True if another connection is waiting to be accepted.
    bool hasPendingConnection() const;

    /// Answer scripts.
    static Answer reply(std::string bytes);
    static bool sendAll(int connection, std::string_view bytes);
    /// Waits for the client to close its side; false after 10 s without.
    static bool waitForClientClose(int connection);

private:
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::string m_request;
};

}  // namespace qvlink::test
