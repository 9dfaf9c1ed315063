#pragma once

// The device side of the firmware-update request: reading an HTTP/1.x request from the
// bytes received so far, and the answer.

#include <string>
#include <string_view>

namespace qvlink::sim {

struct HttpRequest {
    std::string method;
    std::string target;
    std::string body;
};

enum class HttpParse { Incomplete, Complete, Malformed };

/// Reads the request line, the headers (CR LF or bare LF line ends) and a body of
/// Content-Length bytes. Incomplete until all of it has arrived; Malformed for a broken
/// request line, a bad length or headers beyond a sane size.
HttpParse parseHttpRequest(std::string_view bytes, HttpRequest& request);

/// A POST whose form holds the line "reprog={}".
bool isReprogRequest(const HttpRequest& request);

/// "HTTP/1.0 <status> <reason>" with a plain-text body, its length and a close.
std::string httpResponse(int status, std::string_view reason, std::string_view body);

}  // namespace qvlink::sim
