#include "net/http_client.h"

#include <cerrno>
#include <charconv>

#include "net/ascii_text.h"
#include "net/response_reader.h"
#include "net/socket_error.h"
#include "net/transport_error.h"
#include "net/url.h"

namespace qvlink {
namespace {

constexpr int kDefaultHttpPort = 80;

/// Port text of a URL: empty or not a number means the HTTP port. A number that is no TCP port
/// fails as the socket layer reports an unusable address.
int portFromText(const std::string& text) {
    int port = 0;
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, port);
    const bool number = !text.empty() && stop == end && failure != std::errc::invalid_argument;
    if (!number) {
        return kDefaultHttpPort;
    }
    if (failure != std::errc() || port < 1 || port > 65535) {
        throwSocketError(EADDRNOTAVAIL);
    }
    return port;
}

/// 2xx without a Location field; a redirect (3xx other than 304, or any Location) never is.
bool isSuccess(const HttpResponse& response) {
    const int statusClass = response.statusCode / 100;
    const bool redirect =
        (statusClass == 3 && response.statusCode != 304) || !response.location.empty();
    return !redirect && statusClass == 2;
}

}  // namespace

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() = default;

void HttpClient::PostForm(std::string_view url, const std::vector<std::string>& formLines,
                          std::string& responseSink) {
    m_connection.reset();
    m_response = HttpResponse{};
    if (m_cancellation.isCancelled()) {
        throw TransportError(kCancelledMessage);
    }
    exchange(url, formLines, responseSink);
    if (!isSuccess(m_response)) {
        throw TransportError(m_response.statusText);
    }
    m_connection.reset();
}

// Runs one request up to the end of the answer's body. Any failure on the way closes the
// connection; only an answer with an unwelcome status leaves it open.
void HttpClient::exchange(std::string_view url, const std::vector<std::string>& formLines,
                          std::string& responseSink) {
    const ParsedUrl parsed = parseUrl(url);
    const int port = portFromText(parsed.portText);
    if (equalsIgnoringCase(parsed.scheme, "HTTPS")) {
        throw TransportError("Intercept value is not valid");
    }
    if (!parsed.host.empty()) {
        m_host = parsed.host;
    }
    m_port = port;

    try {
        m_connection =
            std::make_unique<TcpConnection>(m_boundIP, m_host, m_port, m_timeouts, &m_cancellation);
        // One send per line, as the device firmware has always received the request.
        for (const std::string& line : requestLines(parsed.target(), formLines)) {
            m_connection->sendAll(line);
        }
        m_connection->startAnswerClock();
        ResponseReader reader(*m_connection);
        m_response = reader.readHead();
        reader.readBody(m_response, responseSink);
    } catch (...) {
        m_connection.reset();
        throw;
    }
}

std::vector<std::string> HttpClient::requestLines(const std::string& target,
                                                  const std::vector<std::string>& formLines) const {
    std::size_t contentLength = 0;
    for (const std::string& line : formLines) {
        contentLength += line.size() + 2;
    }
    std::vector<std::string> lines;
    lines.push_back("POST " + target + " HTTP/1.0\r\n");
    lines.push_back("Host: " + m_host + "\r\n");
    if (!m_accept.empty()) {
        lines.push_back("Accept: " + m_accept + "\r\n");
    }
    if (!m_userAgent.empty()) {
        lines.push_back("User-Agent: " + m_userAgent + "\r\n");
    }
    if (contentLength != 0) {
        lines.push_back("Content-Length: " + std::to_string(contentLength) + "\r\n");
    }
    lines.push_back("\r\n");
    for (const std::string& line : formLines) {
        lines.push_back(line + "\r\n");
    }
    return lines;
}

}  // namespace qvlink
