#include "net/url.h"

#include <gtest/gtest.h>

namespace qvlink {
namespace {

struct UrlCase {
    const char* url;
    const char* scheme;
    const char* host;
    const char* portText;
    const char* target;
};

TEST(ParseUrl, SplitsSchemeHostPortAndTarget) {
    const UrlCase cases[] = {
        {"http://10.0.0.5", "http", "10.0.0.5", "", "/"},
        {"http://10.0.0.5/", "http", "10.0.0.5", "", "/"},
        {"http://10.0.0.5:8080/a/b", "http", "10.0.0.5", "8080", "/a/b"},
        {"http:\\\\device\\dir\\page.html#frag", "http", "device", "", "/dir/page.html"},
        {"http://h:/x/#a#b", "http", "h", "", "/x/"},
        {"HTTPS://h:443", "HTTPS", "h", "443", "/"},
        {"/local/page", "", "", "", "/local/page"},
        {"page", "", "", "", "/page"},
        {"", "", "", "", "/"},
    };
    for (const UrlCase& row : cases) {
        SCOPED_TRACE(row.url);
        const ParsedUrl parsed = parseUrl(row.url);
        EXPECT_EQ(parsed.scheme, row.scheme);
        EXPECT_EQ(parsed.host, row.host);
        EXPECT_EQ(parsed.portText, row.portText);
        EXPECT_EQ(parsed.target(), row.target);
    }
}

}  // namespace
}  // namespace qvlink
