#include "net/response_reader.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "net/memory_source.h"
#include "net/transport_error.h"

namespace qvlink {
namespace {

struct ReaderCase {
    const char* name;
    std::string input;
    std::string error;  // empty: the whole answer is read
    int statusCode = 0;
    std::string statusText{};
    std::string location{};
    std::string body{};
};

// A header line whose bytes before the line feed number exactly `length`, CR included.
std::string headerLineOfLength(std::size_t length) {
    return "X-Pad: " + std::string(length - 8, 'p') + "\r\n";
}

std::vector<ReaderCase> readerCases() {
    const std::string head200 = "HTTP/1.1 200 OK\r\n";
    std::string manyHeaders = head200;
    for (std::size_t i = 0; i <= kMaxHeaderLines; ++i) {
        manyHeaders += "X-Field: v\r\n";
    }
    return {
        {"counted body", head200 + "Content-Length: 5\r\n\r\nhelloTAIL", "", 200, "200 OK", "",
         "hello"},
        {"bare line feeds", "HTTP/1.0 200 OK\nContent-Length: 2\n\nhi", "", 200, "200 OK", "",
         "hi"},
        {"no reason phrase", "HTTP/1.0 204\r\n\r\n", "", 204, "204", "", ""},
        {"field names in any case", head200 + "content-LENGTH:3\r\nLOCATION:   /next\r\n\r\nabcd",
         "", 200, "200 OK", "/next", "abc"},
        {"folded field", head200 + "Location: http://a\r\n\t /b\r\n\r\n", "", 200, "200 OK",
         "http://a /b", ""},
        {"first of repeated fields", head200 + "Location: /1\r\nLocation: /2\r\n\r\n", "", 200,
         "200 OK", "/1", ""},
        {"chunks with extension after a space",
         head200 + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6 ext\r\n world\r\n0\r\n\r\nX",
         "", 200, "200 OK", "", "hello world"},
        {"chunk size that is no number ends the body",
         head200 + "Transfer-Encoding: chunked\r\n\r\n5;ext=1\r\nhello\r\n0\r\n\r\n", "", 200,
         "200 OK", "", ""},
        {"chunked only in lower case",
         head200 + "Transfer-Encoding: Chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n", "", 200, "200 OK", "",
         "2\r\nab\r\n0\r\n\r\n"},
        {"length wins over chunked",
         head200 + "Transfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n3\r\nabc", "", 200,
         "200 OK", "", "3\r\n"},
        {"negative length reads to close", head200 + "Content-Length: -1\r\n\r\nrest", "", 200,
         "200 OK", "", "rest"},
        {"length beyond 64 bits reads to close",
         head200 + "Content-Length: 99999999999999999999\r\n\r\nrest", "", 200, "200 OK", "",
         "rest"},
        {"length not a number reads to close", head200 + "Content-Length: 5x\r\n\r\nrest", "", 200,
         "200 OK", "", "rest"},
        {"body kept up to its bound",
         head200 + "Content-Length: 70000\r\n\r\n" + std::string(70000, 'k'), "", 200, "200 OK", "",
         std::string(kMaxKeptBody, 'k')},
        {"longest line accepted", head200 + headerLineOfLength(kMaxResponseLine) + "\r\n", "", 200,
         "200 OK", "", ""},
        {"line one byte too long", head200 + headerLineOfLength(kMaxResponseLine + 1) + "\r\n",
         kLineTooLongMessage},
        {"too many header lines", manyHeaders + "\r\n", kTooManyHeaderLinesMessage},
        {"status line without space", "garbage\r\n\r\n", "'' is not a valid integer value"},
        {"status code not a number", "HTTP/1.0 2x0 OK\r\n\r\n",
         "'2x0' is not a valid integer value"},
        {"status code beyond int", "HTTP/1.0 4294967496 OK\r\n\r\n",
         "'4294967496' is not a valid integer value"},
        {"nothing at all", "", kConnectionClosedMessage},
        {"close inside the header", head200 + "Content-Length: 5\r\n", kConnectionClosedMessage},
        {"counted body cut short", head200 + "Content-Length: 10\r\n\r\nhello",
         kConnectionClosedMessage, 0, "", "", "hello"},
        {"chunk cut short", head200 + "Transfer-Encoding: chunked\r\n\r\nA\r\nhello",
         kConnectionClosedMessage, 0, "", "", "hello"},
        {"chunk size beyond 64 bits",
         head200 + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFFFFFF\r\n" +
             std::string(70000, 'c'),
         kConnectionClosedMessage, 0, "", "", std::string(kMaxKeptBody, 'c')},
    };
}

TEST(ResponseReader, ReadsHeadAndBodyAtEverySplitOfTheInput) {
    for (const ReaderCase& row : readerCases()) {
        for (const std::size_t step :
             {std::size_t{1}, std::size_t{7}, std::numeric_limits<std::size_t>::max()}) {
            SCOPED_TRACE(std::string(row.name) + ", bytes per read " + std::to_string(step));
            MemorySource source(row.input, step);
            ResponseReader reader(source);
            HttpResponse head;
            std::string body;
            std::string error;
            try {
                head = reader.readHead();
                reader.readBody(head, body);
            } catch (const TransportError& failure) {
                error = failure.what();
            }
            EXPECT_EQ(error, row.error);
            EXPECT_EQ(body, row.body);
            if (row.error.empty()) {
                EXPECT_EQ(head.statusCode, row.statusCode);
                EXPECT_EQ(head.statusText, row.statusText);
                EXPECT_EQ(head.location, row.location);
            }
        }
    }
}

}  // namespace
}  // namespace qvlink
