// Fuzz target: the HTTP answer of a device, read by the form-post client's response reader from
// memory instead of a socket. The first input byte chooses how the rest is split into reads; the
// answer must come out the same as when it arrives in one piece, within the reader's bounds,
// and every failure must be the transport's own error.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "net/memory_source.h"
#include "net/response_reader.h"
#include "net/transport_error.h"

namespace qvlink {
namespace {

struct Outcome {
    HttpResponse head;
    std::string body;
    std::string error;
};

Outcome readAnswer(std::string_view bytes, std::size_t step) {
    MemorySource source(bytes, step);
    ResponseReader reader(source);
    Outcome outcome;
    try {
        outcome.head = reader.readHead();
        reader.readBody(outcome.head, outcome.body);
    } catch (const TransportError& error) {
        outcome.error = error.what();
    }
    return outcome;
}

/// The messages of the reader. A status code quoted in a message ends at a zero byte of the
/// answer, since the message travels as a C string.
bool isKnownError(const std::string& error, std::string_view answer) {
    const bool quotedCode =
        error.starts_with("'") && (error.ends_with("' is not a valid integer value") ||
                                   answer.find('\0') != std::string_view::npos);
    return error == kConnectionClosedMessage || error == kLineTooLongMessage ||
           error == kTooManyHeaderLinesMessage || quotedCode;
}

}  // namespace
}  // namespace qvlink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qvlink;
    if (size == 0) {
        return 0;
    }
    const std::size_t step = std::size_t{data[0]} + 1;
    const std::string_view answer(reinterpret_cast<const char*>(data + 1), size - 1);

    const Outcome whole = readAnswer(answer, answer.size() + 1);
    const Outcome split = readAnswer(answer, step);

    QVLINK_FUZZ_CHECK(whole.error == split.error);
    QVLINK_FUZZ_CHECK(whole.body == split.body);
    QVLINK_FUZZ_CHECK(whole.head.statusCode == split.head.statusCode);
    QVLINK_FUZZ_CHECK(whole.head.statusText == split.head.statusText);
    QVLINK_FUZZ_CHECK(whole.head.location == split.head.location);
    QVLINK_FUZZ_CHECK(whole.head.contentLength == split.head.contentLength);

    QVLINK_FUZZ_CHECK(whole.error.empty() || isKnownError(whole.error, answer));
    QVLINK_FUZZ_CHECK(whole.body.size() <= kMaxKeptBody);
    QVLINK_FUZZ_CHECK(whole.head.contentLength >= 0);
    QVLINK_FUZZ_CHECK(whole.head.statusText.size() <= kMaxResponseLine);
    if (whole.error.empty() && whole.head.contentLength > 0) {
        const auto expected = std::min<std::uint64_t>(
            static_cast<std::uint64_t>(whole.head.contentLength), kMaxKeptBody);
        QVLINK_FUZZ_CHECK(whole.body.size() == expected);
    }
    return 0;
}
