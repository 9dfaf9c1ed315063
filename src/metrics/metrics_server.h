#pragma once

// The HTTP endpoint that monitoring systems scrape: GET /metrics answers the text that the
// owner's function renders at that moment. The server runs its own thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct MHD_Daemon;

namespace qvlink {

/// Why the endpoint could not be opened, as a message for the user.
class MetricsServerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// "ADDR:PORT" with a dotted-quad address and a port 0..65535 (0: any free one).
struct MetricsEndpoint {
    std::uint32_t address = 0;  ///< host order
    std::uint16_t port = 0;
};

/// The endpoint named by `text`; none for anything else.
std::optional<MetricsEndpoint> parseMetricsEndpoint(std::string_view text);

class MetricsServer {
public:
    /// Renders the body of one answer; called on the server's thread, so it must synchronise
    /// with whatever it reads.
    using Render = std::function<std::string()>;

    /// Listens on `endpoint`; throws MetricsServerError when it cannot.
    MetricsServer(const MetricsEndpoint& endpoint, Render render);
    /// Stops the thread; no render runs after it returns.
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    /// The port listened on (the chosen one when the endpoint said 0).
    std::uint16_t port() const { return m_port; }

    /// The content type of the answer, as the format's version 0.0.4 names it.
    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

private:
    Render m_render;
    MHD_Daemon* m_daemon = nullptr;
    std::uint16_t m_port = 0;
};

}  // namespace qvlink
