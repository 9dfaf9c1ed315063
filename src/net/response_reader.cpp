#include "net/response_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "net/ascii_text.h"
#include "net/transport_error.h"

namespace qvlink {
namespace {

// Room for a whole line of the longest accepted length plus its line feed.
constexpr std::size_t kBufferSize = 16 * 1024;
static_assert(kBufferSize > kMaxResponseLine);

using Fields = std::vector<std::pair<std::string, std::string>>;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimLeadingBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

/// Optional sign and decimal digits that fit 64 bits; anything else is not a number.
std::optional<std::int64_t> parseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + digit;
    }
    return negative ? static_cast<std::int64_t>(0 - magnitude)
                    : static_cast<std::int64_t>(magnitude);
}

/// Hexadecimal chunk size; not a number counts as 0 (the last chunk). Sizes beyond 64 bits
/// saturate: such a chunk is simply read until the connection ends.
std::uint64_t parseChunkSize(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    std::uint64_t size = 0;
    for (const char c : text) {
        const char upper = asciiUpper(c);
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (upper >= 'A' && upper <= 'F') {
            digit = static_cast<unsigned>(upper - 'A' + 10);
        } else {
            return 0;
        }
        size = size > (std::numeric_limits<std::uint64_t>::max() >> 4)
                   ? std::numeric_limits<std::uint64_t>::max()
                   : (size << 4) | digit;
    }
    return size;
}

// A continuation line joins the previous field's value, one blank between the parts.
void appendFolded(std::string& value, std::string_view continuation) {
    if (!value.empty() && !isBlank(value.back())) {
        value += ' ';
    }
    value += trimLeadingBlanks(continuation);
}

std::string fieldValue(const Fields& fields, std::string_view name) {
    for (const auto& [fieldName, value] : fields) {
        if (equalsIgnoringCase(fieldName, name)) {
            return value;
        }
    }
    return {};
}

}  // namespace

ResponseReader::ResponseReader(ByteSource& source) : m_source(source), m_buffer(kBufferSize) {}

HttpResponse ResponseReader::readHead() {
    HttpResponse response;
    const std::string statusLine = readLine();
    if (const std::size_t space = statusLine.find(' '); space != std::string::npos) {
        response.statusText = statusLine.substr(space + 1);
    }
    const std::string codeText = response.statusText.substr(0, response.statusText.find(' '));
    const std::optional<std::int64_t> code = parseDecimal(codeText);
    if (!code || *code < std::numeric_limits<int>::min() ||
        *code > std::numeric_limits<int>::max()) {
        throw TransportError("'" + codeText + "' is not a valid integer value");
    }
    response.statusCode = static_cast<int>(*code);

    Fields fields;
    for (std::size_t lines = 0;; ++lines) {
        const std::string line = readLine();
        if (line.empty()) {
            break;
        }
        if (lines == kMaxHeaderLines) {
            throw TransportError(kTooManyHeaderLinesMessage);
        }
        if (isBlank(line.front())) {
            if (!fields.empty()) {
                appendFolded(fields.back().second, line);
            }
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            fields.emplace_back(line.substr(0, colon),
                                trimLeadingBlanks(std::string_view(line).substr(colon + 1)));
        }
    }
    response.location = fieldValue(fields, "Location");
    response.contentLength =
        std::max<std::int64_t>(parseDecimal(fieldValue(fields, "Content-Length")).value_or(0), 0);
    response.transferEncoding = fieldValue(fields, "Transfer-Encoding");
    return response;
}

void ResponseReader::readBody(const HttpResponse& head, std::string& sink) {
    m_sink = &sink;
    m_kept = 0;
    if (head.contentLength > 0) {
        readCounted(static_cast<std::uint64_t>(head.contentLength));
    } else if (head.transferEncoding.find("chunked") != std::string::npos) {
        readChunks();
    } else {
        readToClose();
    }
}

std::string ResponseReader::readLine() {
    std::size_t scanned = 0;
    for (;;) {
        const char* pending = m_buffer.data() + m_begin;
        const std::size_t window = std::min(m_end - m_begin, kMaxResponseLine + 1);
        const void* lineFeed = std::memchr(pending + scanned, '\n', window - scanned);
        if (lineFeed != nullptr) {
            const auto length =
                static_cast<std::size_t>(static_cast<const char*>(lineFeed) - pending);
            std::string line(pending, length);
            m_begin += length + 1;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        if (window > kMaxResponseLine) {
            throw TransportError(kLineTooLongMessage);
        }
        scanned = window;
        if (!fill()) {
            throw TransportError(kConnectionClosedMessage);
        }
    }
}

// Reads more bytes behind the pending ones; false once the peer has closed.
bool ResponseReader::fill() {
    if (m_begin == m_end) {
        m_begin = m_end = 0;
    } else if (m_end == m_buffer.size()) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    const std::size_t count = m_source.read(m_buffer.data() + m_end, m_buffer.size() - m_end);
    m_end += count;
    return count > 0;
}

void ResponseReader::readCounted(std::uint64_t count) {
    while (count > 0) {
        if (m_begin == m_end && !fill()) {
            throw TransportError(kConnectionClosedMessage);
        }
        const auto available =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, m_end - m_begin));
        keep(m_buffer.data() + m_begin, available);
        m_begin += available;
        count -= available;
    }
}

void ResponseReader::readChunks() {
    for (;;) {
        const std::string sizeLine = readLine();
        const std::uint64_t size = parseChunkSize(sizeLine.substr(0, sizeLine.find(' ')));
        if (size == 0) {
            break;
        }
        readCounted(size);
        readLine();  // the line end after the chunk's data
    }
    readLine();  // the empty line after the last chunk; trailer fields are not read
}

void ResponseReader::readToClose() {
    do {
        keep(m_buffer.data() + m_begin, m_end - m_begin);
        m_begin = m_end;
    } while (fill());
}

void ResponseReader::keep(const char* data, std::size_t count) {
    const std::size_t taken = std::min(count, kMaxKeptBody - m_kept);
    m_sink->append(data, taken);
    m_kept += taken;
}

}  // namespace qvlink
