#include "net/socket_error.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "net/host_address.h"

namespace qvlink {
namespace {

TEST(SocketErrorMessage, PosixErrorsAppearUnderTheirConditionsCode) {
    const struct {
        int posixError;
        const char* message;
    } cases[] = {
        {EADDRINUSE, "Socket Error # 10048\r\nAddress already in use."},
        {EACCES, "Socket Error # 10013\r\nAccess denied."},
        {EPERM, "Socket Error # 10013\r\nAccess denied."},
        {ECONNREFUSED, "Socket Error # 10061\r\nConnection refused."},
        {ETIMEDOUT, "Socket Error # 10060\r\nConnection timed out."},
        {EAGAIN, "Socket Error # 10035\r\nOperation would block. "},
        {ENOTEMPTY, "Socket Error # 10066\r\nDirectory not empty"},
        {EPIPE, "Socket Error # 10058\r\nCannot send or receive after socket is closed."},
        {ENOMEM, "Socket Error # 12\r\n"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.posixError);
        EXPECT_EQ(socketErrorMessage(socketErrorCode(row.posixError)), row.message);
    }
}

TEST(SocketErrorMessage, ResolverFailuresHaveCodesOutsideTheTable) {
    EXPECT_EQ(socketErrorMessage(resolverErrorCode(EAI_NONAME, 0)), "Socket Error # 11001\r\n");
    EXPECT_EQ(resolverErrorCode(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(resolverErrorCode(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(ParseDottedQuad, AcceptsFourDecimalNumbersUpTo255Only) {
    const struct {
        const char* text;
        const char* address;  // nullptr: not a dotted quad
    } cases[] = {
        {"10.0.0.5", "10.0.0.5"},
        {"255.255.255.255", "255.255.255.255"},
        {"010.000.000.005", "10.0.0.5"},
        {"256.0.0.1", nullptr},
        {"1.2.3", nullptr},
        {"1.2.3.4.5", nullptr},
        {"1..3.4", nullptr},
        {"1.2.3.", nullptr},
        {"1.2.3.x", nullptr},
        {"-1.2.3.4", nullptr},
        {"", nullptr},
        {"host.example", nullptr},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        const std::optional<in_addr> parsed = parseDottedQuad(row.text);
        ASSERT_EQ(parsed.has_value(), row.address != nullptr);
        if (parsed) {
            EXPECT_EQ(addressText(*parsed), row.address);
        }
    }
}

}  // namespace
}  // namespace qvlink
