#include "http_request.h"

#include <strings.h>

#include <charconv>

namespace qvlink::sim {
namespace {

constexpr std::size_t kMaxHeaderBytes = 8192;
constexpr std::size_t kMaxBodyBytes = 65536;

/// The line at `pos` without its CR LF or LF; advances `pos` past the line end.
std::string_view takeLine(std::string_view bytes, std::size_t& pos) {
    const std::size_t lf = bytes.find('\n', pos);
    std::string_view line = bytes.substr(pos, lf - pos);
    pos = lf == std::string_view::npos ? bytes.size() : lf + 1;
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

HttpParse parseHttpRequest(std::string_view bytes, HttpRequest& request) {
    std::size_t headerEnd = bytes.find("\r\n\r\n");
    std::size_t bodyStart = headerEnd + 4;
    if (const std::size_t bare = bytes.find("\n\n"); bare < headerEnd) {
        headerEnd = bare;
        bodyStart = bare + 2;
    }
    if (headerEnd == std::string_view::npos) {
        return bytes.size() > kMaxHeaderBytes ? HttpParse::Malformed : HttpParse::Incomplete;
    }

    std::size_t pos = 0;
    const std::string_view requestLine = takeLine(bytes, pos);
    const std::size_t firstSpace = requestLine.find(' ');
    const std::size_t secondSpace = requestLine.find(' ', firstSpace + 1);
    if (firstSpace == 0 || secondSpace == std::string_view::npos ||
        !requestLine.substr(secondSpace + 1).starts_with("HTTP/")) {
        return HttpParse::Malformed;
    }

    std::size_t contentLength = 0;
    while (pos < headerEnd) {
        const std::string_view line = takeLine(bytes, pos);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view name = trimmed(line.substr(0, colon));
        if (name.size() == 14 && strncasecmp(name.data(), "Content-Length", 14) == 0) {
            const std::string_view value = trimmed(line.substr(colon + 1));
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), contentLength);
            if (error != std::errc() || end != value.data() + value.size() ||
                contentLength > kMaxBodyBytes) {
                return HttpParse::Malformed;
            }
        }
    }
    if (bytes.size() < bodyStart + contentLength) {
        return HttpParse::Incomplete;
    }
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    request.body = bytes.substr(bodyStart, contentLength);
    return HttpParse::Complete;
}

bool isReprogRequest(const HttpRequest& request) {
    if (request.method != "POST") {
        return false;
    }
    std::size_t pos = 0;
    while (pos < request.body.size()) {
        if (takeLine(request.body, pos) == "reprog={}") {
            return true;
        }
    }
    return false;
}

std::string httpResponse(int status, std::string_view reason, std::string_view body) {
    return "HTTP/1.0 " + std::to_string(status) + " " + std::string(reason) +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + std::string(body);
}

}  // namespace qvlink::sim
