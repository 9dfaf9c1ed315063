#include "metrics/metrics_server.h"

#include <gtest/gtest.h>

#include <atomic>

#include "support/http_get.h"

namespace qvlink {
namespace {

using test::httpBody;
using test::httpExchange;

constexpr MetricsEndpoint kLoopbackAnyPort{0x7F000001, 0};

TEST(MetricsEndpointText, AcceptsAddressColonPortOnly) {
    const struct {
        const char* text;
        bool valid;
        std::uint32_t address;
        std::uint16_t port;
    } cases[] = {
        {"127.0.0.1:9973", true, 0x7F000001, 9973},
        {"0.0.0.0:0", true, 0, 0},
        {"10.0.0.5:65535", true, 0x0A000005, 65535},
        {"10.0.0.5:65536", false, 0, 0},
        {"10.0.0.5:", false, 0, 0},
        {"10.0.0.5:-1", false, 0, 0},
        {"10.0.0.5:80x", false, 0, 0},
        {"10.0.0.5", false, 0, 0},
        {":9973", false, 0, 0},
        {"localhost:9973", false, 0, 0},
        {"10.0.0.256:9973", false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<MetricsEndpoint> endpoint = parseMetricsEndpoint(c.text);
        ASSERT_EQ(endpoint.has_value(), c.valid);
        if (endpoint) {
            EXPECT_EQ(endpoint->address, c.address);
            EXPECT_EQ(endpoint->port, c.port);
        }
    }
}

TEST(MetricsServer, AnswersEachScrapeWithTheTextRenderedThen) {
    std::atomic<int> renders{0};
    MetricsServer server(kLoopbackAnyPort, [&renders] {
        return "qvlink_scrapes " + std::to_string(++renders) + "\n";
    });
    ASSERT_NE(server.port(), 0);

    const std::string first = httpExchange(server.port(), "GET", "/metrics");
    EXPECT_TRUE(first.starts_with("HTTP/1.0 200") || first.starts_with("HTTP/1.1 200")) << first;
    EXPECT_NE(first.find("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"),
              std::string::npos)
        << first;
    EXPECT_EQ(httpBody(first), "qvlink_scrapes 1\n");
    EXPECT_EQ(httpBody(httpExchange(server.port(), "GET", "/metrics")), "qvlink_scrapes 2\n");
    EXPECT_EQ(httpBody(httpExchange(server.port(), "HEAD", "/metrics")), "");
}

TEST(MetricsServer, OtherPathsAndMethodsAreRefusedWithoutRendering) {
    std::atomic<int> renders{0};
    MetricsServer server(kLoopbackAnyPort, [&renders] {
        ++renders;
        return std::string("x 1\n");
    });
    const struct {
        const char* method;
        const char* path;
        const char* status;
    } cases[] = {
        {"GET", "/", " 404 "},           {"GET", "/metrics/", " 404 "},
        {"GET", "/metricsx", " 404 "},   {"POST", "/metrics", " 405 "},
        {"DELETE", "/metrics", " 405 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + ' ' + c.path);
        const std::string answer = httpExchange(server.port(), c.method, c.path);
        EXPECT_NE(answer.substr(0, answer.find("\r\n")).find(c.status), std::string::npos)
            << answer;
    }
    EXPECT_EQ(renders, 0);
}

TEST(MetricsServer, APortInUseIsAClearFailure) {
    MetricsServer first(kLoopbackAnyPort, [] { return std::string(); });
    try {
        MetricsServer second({0x7F000001, first.port()}, [] { return std::string(); });
        FAIL() << "two servers on one port";
    } catch (const MetricsServerError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "cannot serve metrics on 127.0.0.1:" + std::to_string(first.port()) +
                      " (address in use or not on this machine?)");
    }
}

}  // namespace
}  // namespace qvlink
