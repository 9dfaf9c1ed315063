#include "net/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/response_reader.h"
#include "net/transport_error.h"
#include "test_http_server.h"

namespace qvlink {
namespace {

using namespace std::chrono_literals;
using test::TestHttpServer;

const std::vector<std::string> kReprogForm = {"reprog={}"};

std::string urlOf(const TestHttpServer& server, const std::string& rest = "") {
    return "http://127.0.0.1:" + std::to_string(server.port()) + rest;
}

std::string postError(HttpClient& client, const std::string& url, std::string& body,
                      const std::vector<std::string>& form = kReprogForm) {
    try {
        client.PostForm(url, form, body);
    } catch (const TransportError& error) {
        return error.what();
    }
    return {};
}

TEST(HttpClient, FormPostSendsTheSevenLinesAndClosesAfterSuccess) {
    TestHttpServer server;
    std::atomic<bool> closedByClient{false};
    server.serve([&](int connection) {
        TestHttpServer::sendAll(connection, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
        closedByClient = TestHttpServer::waitForClientClose(connection);
    });
    HttpClient client;
    std::string body;
    EXPECT_EQ(postError(client, urlOf(server), body), "");
    EXPECT_EQ(body, "hello");
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(server.request(),
              "POST / HTTP/1.0\r\n"
              "Host: 127.0.0.1\r\n"
              "Accept: text/html, */*\r\n"
              "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
              "Content-Length: 11\r\n"
              "\r\n"
              "reprog={}\r\n");
    EXPECT_TRUE(closedByClient);
}

TEST(HttpClient, TargetComesFromTheUrlAndAnEmptyFormSendsNoLength) {
    TestHttpServer server;
    server.serve(TestHttpServer::reply("HTTP/1.0 200 OK\r\n\r\n"));
    HttpClient client;
    client.setAccept("");
    std::string body;
    const std::string url = "http:\\\\127.0.0.1:" + std::to_string(server.port()) + "\\a/b#part";
    EXPECT_EQ(postError(client, url, body, {}), "");
    EXPECT_EQ(server.request(),
              "POST /a/b HTTP/1.0\r\n"
              "Host: 127.0.0.1\r\n"
              "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
              "\r\n");
}

TEST(HttpClient, UserAgentIsSentAsSetAndLeftOutWhenEmpty) {
    for (const std::string agent : {"qvlink-monitor/2", ""}) {
        SCOPED_TRACE(agent);
        TestHttpServer server;
        server.serve(TestHttpServer::reply("HTTP/1.0 200 OK\r\n\r\n"));
        HttpClient client;
        client.setUserAgent(agent);
        std::string body;
        EXPECT_EQ(postError(client, urlOf(server), body, {}), "");
        const std::string agentLine = agent.empty() ? "" : "User-Agent: " + agent + "\r\n";
        EXPECT_EQ(server.request(),
                  "POST / HTTP/1.0\r\n"
                  "Host: 127.0.0.1\r\n"
                  "Accept: text/html, */*\r\n" +
                      agentLine + "\r\n");
    }
}

TEST(HttpClient, BoundIPIsTheConnectionsSourceAndAnUnusableOneFailsTheSocket) {
    TestHttpServer server;
    std::string source;
    server.serve([&](int connection) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        getpeername(connection, reinterpret_cast<sockaddr*>(&peer), &length);
        char text[INET_ADDRSTRLEN] = {};
        source = inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        TestHttpServer::sendAll(connection, "HTTP/1.0 200 OK\r\n\r\n");
    });
    HttpClient client;
    client.setBoundIP("127.0.0.5");
    std::string body;
    EXPECT_EQ(postError(client, urlOf(server), body), "");
    server.request();
    EXPECT_EQ(source, "127.0.0.5");

    client.setBoundIP("127.0.0");
    EXPECT_EQ(postError(client, urlOf(server), body),
              "Socket Error # 10049\r\nCannot assign requested address.");
    EXPECT_FALSE(server.hasPendingConnection());
}

struct AnswerCase {
    const char* name;
    std::string answer;
    std::string error;  // empty: success
    std::string body;
};

std::vector<AnswerCase> answerCases() {
    const std::string big(200000, 'b');
    const std::string kept(kMaxKeptBody, 'b');
    return {
        {"length 5", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", "", "hello"},
        {"ends with close", "HTTP/1.0 200 OK\r\n\r\nuntil close", "", "until close"},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
         "", "hello"},
        {"location on 200", "HTTP/1.0 200 OK\r\nLocation: /x\r\n\r\n", "200 OK", ""},
        {"redirect", "HTTP/1.0 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 2\r\n\r\nmv",
         "302 Found", "mv"},
        {"not modified", "HTTP/1.0 304 Not Modified\r\n\r\n", "304 Not Modified", ""},
        {"server error", "HTTP/1.0 500 Internal Error\r\n\r\noops", "500 Internal Error", "oops"},
        {"close without answer", "", kConnectionClosedMessage, ""},
        {"status not a number", "HTTP/1.0 OK 200\r\n\r\n", "'OK' is not a valid integer value", ""},
        {"body beyond the kept bound",
         "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n" + big, "",
         kept},
        {"huge length streamed",
         "HTTP/1.0 200 OK\r\nContent-Length: 1000000000000000\r\n\r\n" + big,
         kConnectionClosedMessage, kept},
        {"huge chunk size",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFF\r\n" + big,
         kConnectionClosedMessage, kept},
        {"endless header line", "HTTP/1.0 200 OK\r\nX-Pad: " + std::string(1 << 20, 'p'),
         kLineTooLongMessage, ""},
    };
}

TEST(HttpClient, AnswersDecideTheOutcomeAndNoRequestIsRepeated) {
    for (const AnswerCase& row : answerCases()) {
        SCOPED_TRACE(row.name);
        TestHttpServer server;
        server.serve(TestHttpServer::reply(row.answer));
        HttpClient client;
        std::string body;
        EXPECT_EQ(postError(client, urlOf(server), body), row.error);
        EXPECT_EQ(body, row.body);
        server.request();
        EXPECT_FALSE(server.hasPendingConnection());
    }
}

TEST(HttpClient, FailedStatusLeavesTheConnectionOpenUntilTheNextPost) {
    TestHttpServer first;
    TestHttpServer second;
    std::atomic<bool> secondPostBegun{false};
    std::atomic<bool> closedAfterSecondPostBegun{false};
    first.serve([&](int connection) {
        TestHttpServer::sendAll(connection,
                                "HTTP/1.0 404 Not Found\r\nContent-Length: 4\r\n\r\ngone");
        const bool closed = TestHttpServer::waitForClientClose(connection);
        closedAfterSecondPostBegun = closed && secondPostBegun;
    });
    second.serve(TestHttpServer::reply("HTTP/1.0 200 OK\r\n\r\n"));
    HttpClient client;
    std::string body;
    EXPECT_EQ(postError(client, urlOf(first), body), "404 Not Found");
    EXPECT_EQ(body, "gone");
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(client.response().statusCode, 404);

    secondPostBegun = true;
    EXPECT_EQ(postError(client, urlOf(second), body), "");
    first.request();
    EXPECT_TRUE(closedAfterSecondPostBegun);
}

TEST(HttpClient, RefusedConnectionGivesTheSocketErrorMessage) {
    // A bound TCP socket that does not listen: connecting to its port is refused.
    const int idle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(idle, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    socklen_t length = sizeof local;
    getsockname(idle, reinterpret_cast<sockaddr*>(&local), &length);

    HttpClient client;
    std::string body;
    EXPECT_EQ(postError(client, "http://LOCALHOST:" + std::to_string(ntohs(local.sin_port)), body),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_FALSE(client.isConnected());
    close(idle);
}

TEST(HttpClient, UrlsThatCannotBePostedFailBeforeConnecting) {
    TestHttpServer server;
    const std::string port = std::to_string(server.port());
    const struct {
        std::string url;
        const char* error;
    } cases[] = {
        {"HttpS://127.0.0.1:" + port, "Intercept value is not valid"},
        {"http://127.0.0.1:70000", "Socket Error # 10049\r\nCannot assign requested address."},
        {"http://127.0.0.1:0/", "Socket Error # 10049\r\nCannot assign requested address."},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.url);
        HttpClient client;
        std::string body;
        EXPECT_EQ(postError(client, row.url, body), row.error);
        EXPECT_FALSE(server.hasPendingConnection());
    }
}

TEST(HttpClient, PeerThatResetsDuringTheRequestFailsThePostWithoutSigpipe) {
    TestHttpServer server;
    // The server ends its side and then closes with the request unread, which resets the
    // connection while the client is still sending: the next send reports a broken pipe.
    server.serve(
        [](int connection) {
            char first[16];
            recv(connection, first, sizeof first, 0);
            shutdown(connection, SHUT_WR);
        },
        false);
    HttpClient client;
    std::string body;
    const std::vector<std::string> largeForm(50000, "field=value");
    EXPECT_EQ(postError(client, urlOf(server), body, largeForm).rfind("Socket Error # ", 0), 0u);
}

const std::string kTimedOut = "Socket Error # 10060\r\nConnection timed out.";

TEST(HttpClient, DeviceThatNeverAnswersTimesOut) {
    TestHttpServer server;
    server.serve([](int connection) { TestHttpServer::waitForClientClose(connection); });
    HttpClient client;
    client.setTimeouts({.connect = 5s, .idle = 200ms, .answer = 10s});
    std::string body;
    EXPECT_EQ(postError(client, urlOf(server), body), kTimedOut);
    EXPECT_FALSE(client.isConnected());
}

TEST(HttpClient, AnswerStreamedForeverEndsAtTheAnswerDeadline) {
    TestHttpServer server;
    server.serve([](int connection) {
        TestHttpServer::sendAll(connection, "HTTP/1.0 200 OK\r\n\r\n");
        // One byte at a time, never idle long enough for the per-wait limit.
        while (TestHttpServer::sendAll(connection, "z")) {
            std::this_thread::sleep_for(10ms);
        }
    });
    HttpClient client;
    client.setTimeouts({.connect = 5s, .idle = 5s, .answer = 300ms});
    std::string body;
    EXPECT_EQ(postError(client, urlOf(server), body), kTimedOut);
    EXPECT_FALSE(body.empty());
}

/// Connects a socket to `server` (backlog 0, never accepting) that fills its queue, so that
/// further handshakes go unanswered.
int fillBacklog(const TestHttpServer& server) {
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    remote.sin_port = htons(static_cast<std::uint16_t>(server.port()));
    EXPECT_EQ(connect(filler, reinterpret_cast<const sockaddr*>(&remote), sizeof remote), 0);
    return filler;
}

TEST(HttpClient, ConnectThatIsNeverAcceptedTimesOut) {
    TestHttpServer server(0);
    const int filler = fillBacklog(server);

    HttpClient client;
    client.setTimeouts({.connect = 300ms, .idle = 5s, .answer = 5s});
    std::string body;
    EXPECT_EQ(postError(client, urlOf(server), body), kTimedOut);
    close(filler);
}

TEST(HttpClient, CancelFromAnotherThreadEndsEveryWaitAtOnce) {
    const struct {
        const char* name;
        int backlog;
        bool fillBacklog;  ///< the handshake is never answered
    } cases[] = {{"waiting for the handshake", 0, true}, {"waiting for the answer", 4, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server(c.backlog);
        const int filler = c.fillBacklog ? fillBacklog(server) : -1;
        if (!c.fillBacklog) {
            server.serve([](int connection) { TestHttpServer::waitForClientClose(connection); });
        }
        HttpClient client;  // the default limits of 15 and 20 s
        std::string body;
        std::thread canceller([&] {
            std::this_thread::sleep_for(200ms);
            client.cancel();
        });
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(postError(client, urlOf(server), body), kCancelledMessage);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
        EXPECT_FALSE(client.isConnected());
        canceller.join();
        if (filler >= 0) {
            close(filler);
        }
    }
}

TEST(HttpClient, CancelledClientFailsLaterPostsWithoutConnecting) {
    TestHttpServer server;
    HttpClient client;
    client.cancel();
    std::string body;
    EXPECT_EQ(postError(client, urlOf(server), body), kCancelledMessage);
    EXPECT_FALSE(server.hasPendingConnection());
}

}  // namespace
}  // namespace qvlink
