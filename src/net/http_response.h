#pragma once

#include <cstdint>
#include <string>

namespace qvlink {

/// What the form-post client keeps of an answer: the fields that decide the outcome and how the
/// body is delimited. The other header fields have no effect and are not kept.
struct HttpResponse {
    int statusCode = 0;
    /// Status line after its first space: the code and the reason phrase ("404 Not Found").
    std::string statusText;
    std::string location;
    /// "Content-Length" as a decimal number; 0 when absent, not a number or negative.
    std::int64_t contentLength = 0;
    std::string transferEncoding;
};

}  // namespace qvlink
