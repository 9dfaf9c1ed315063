#include "metrics/metrics_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <charconv>
#include <cstring>
#include <string_view>

#include "common/dotted_quad.h"

namespace qvlink {
namespace {

constexpr const char* kMetricsPath = "/metrics";
/// Scrapers are few; a stuck one must not hold the thread for long.
constexpr unsigned kConnectionLimit = 16;
constexpr unsigned kConnectionTimeoutSeconds = 10;

MHD_Result answer(MHD_Connection* connection, unsigned status, const std::string& body,
                  const char* contentType) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    }
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

}  // namespace

std::optional<MetricsEndpoint> parseMetricsEndpoint(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> address = parseDottedQuad(text.substr(0, colon));
    const std::string_view portText = text.substr(colon + 1);
    std::uint16_t port = 0;
    const auto [end, error] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (!address || portText.empty() || error != std::errc() ||
        end != portText.data() + portText.size()) {
        return std::nullopt;
    }
    return MetricsEndpoint{*address, port};
}

MetricsServer::MetricsServer(const MetricsEndpoint& endpoint, Render render)
    : m_render(std::move(render)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    const MHD_AccessHandlerCallback handle = [](void* self, MHD_Connection* connection,
                                                const char* url, const char* method, const char*,
                                                const char*, std::size_t*, void**) {
        const bool readOnly = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                              std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
        if (!readOnly) {
            return answer(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "GET or HEAD only\n",
                          "text/plain; charset=utf-8");
        }
        if (std::strcmp(url, kMetricsPath) != 0) {
            return answer(connection, MHD_HTTP_NOT_FOUND, "the metrics are at /metrics\n",
                          "text/plain; charset=utf-8");
        }
        return answer(connection, MHD_HTTP_OK, static_cast<MetricsServer*>(self)->m_render(),
                      kContentType);
    };
    m_daemon = MHD_start_daemon(
        MHD_USE_AUTO_INTERNAL_THREAD, endpoint.port, nullptr, nullptr, handle, this,
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address), MHD_OPTION_CONNECTION_LIMIT,
        kConnectionLimit, MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_END);
    if (m_daemon == nullptr) {
        throw MetricsServerError("cannot serve metrics on " + dottedQuadText(endpoint.address) +
                                 ':' + std::to_string(endpoint.port) +
                                 " (address in use or not on this machine?)");
    }
    const MHD_DaemonInfo* bound = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = bound != nullptr ? bound->port : endpoint.port;
}

MetricsServer::~MetricsServer() {
    MHD_stop_daemon(m_daemon);
}

}  // namespace qvlink
