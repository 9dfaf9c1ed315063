#include "net/socket_error.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

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

}  // namespace
}  // namespace qvlink
