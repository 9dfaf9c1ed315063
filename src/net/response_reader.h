#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/byte_source.h"
#include "net/http_response.h"

namespace qvlink {

/// Bounds that keep a broken or hostile answer from exhausting memory. A line is the bytes before
/// its line feed; a longer line fails the request with kLineTooLongMessage, more header lines
/// with kTooManyHeaderLinesMessage. Of the body only the first kMaxKeptBody bytes reach the
/// sink; the rest is read and discarded.
inline constexpr std::size_t kMaxResponseLine = 8 * 1024;
inline constexpr std::size_t kMaxHeaderLines = 100;
inline constexpr std::size_t kMaxKeptBody = 64 * 1024;

inline constexpr char kConnectionClosedMessage[] = "Connection Closed Gracefully.";
inline constexpr char kLineTooLongMessage[] = "Response line too long.";
inline constexpr char kTooManyHeaderLinesMessage[] = "Too many response header lines.";

/// Reads an HTTP answer from a byte source: the status line and header fields, then the body as
/// the header delimits it (Content-Length, chunked, or up to the close). Lines may end in CR LF
/// or a bare LF. Every failure raises TransportError with the user-visible message.
class ResponseReader {
public:
    explicit ResponseReader(ByteSource& source);

    /// Status line and header fields up to the empty line. A server that closes before them
    /// fails with kConnectionClosedMessage; a status code that is not a number with
    /// "'<token>' is not a valid integer value".
    HttpResponse readHead();

    /// Reads the body that `head` announces, appending at most kMaxKeptBody bytes to `sink`. A
    /// close before a counted body or a chunk is complete fails with kConnectionClosedMessage;
    /// for a close-delimited body the close is its end.
    void readBody(const HttpResponse& head, std::string& sink);

private:
    std::string readLine();
    bool fill();
    void readCounted(std::uint64_t count);
    void readChunks();
    void readToClose();
    void keep(const char* data, std::size_t count);

    ByteSource& m_source;
    std::vector<char> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::string* m_sink = nullptr;
    std::size_t m_kept = 0;
};

}  // namespace qvlink
