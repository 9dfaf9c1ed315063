#include "net/socket_error.h"

#include <netdb.h>

#include <array>
#include <cerrno>

#include "net/transport_error.h"

namespace qvlink {
namespace {

struct SocketCondition {
    int code;
    const char* text;
    std::array<int, 2> posixErrors;  // 0 marks an unused slot
};

// The conditions a socket call can report, with their user-visible texts.
constexpr SocketCondition kSocketConditions[] = {
    {10004, "Interrupted system call.", {EINTR, 0}},
    {10009, "Bad file number.", {EBADF, 0}},
    {10013, "Access denied.", {EACCES, EPERM}},
    {10014, "Bad address.", {EFAULT, 0}},
    {10022, "Invalid argument.", {EINVAL, 0}},
    {10024, "Too many open files.", {EMFILE, ENFILE}},
    {10035, "Operation would block. ", {EWOULDBLOCK, EAGAIN}},
    {10036, "Operation now in progress.", {EINPROGRESS, 0}},
    {10037, "Operation already in progress.", {EALREADY, 0}},
    {10038, "Socket operation on non-socket.", {ENOTSOCK, 0}},
    {10039, "Destination address required.", {EDESTADDRREQ, 0}},
    {10040, "Message too long.", {EMSGSIZE, 0}},
    {10041, "Protocol wrong type for socket.", {EPROTOTYPE, 0}},
    {10042, "Bad protocol option.", {ENOPROTOOPT, 0}},
    {10043, "Protocol not supported.", {EPROTONOSUPPORT, 0}},
    {10044, "Socket type not supported.", {ESOCKTNOSUPPORT, 0}},
    {10045, "Operation not supported on socket.", {EOPNOTSUPP, ENOTSUP}},
    {10046, "Protocol family not supported.", {EPFNOSUPPORT, 0}},
    {10047, "Address family not supported by protocol family.", {EAFNOSUPPORT, 0}},
    {10048, "Address already in use.", {EADDRINUSE, 0}},
    {10049, "Cannot assign requested address.", {EADDRNOTAVAIL, 0}},
    {10050, "Network is down.", {ENETDOWN, 0}},
    {10051, "Network is unreachable.", {ENETUNREACH, 0}},
    {10052, "Net dropped connection or reset.", {ENETRESET, 0}},
    {10053, "Software caused connection abort.", {ECONNABORTED, 0}},
    {10054, "Connection reset by peer.", {ECONNRESET, 0}},
    {10055, "No buffer space available.", {ENOBUFS, 0}},
    {10056, "Socket is already connected.", {EISCONN, 0}},
    {10057, "Socket is not connected.", {ENOTCONN, 0}},
    // A send on a connection the peer has torn down reports EPIPE here.
    {10058, "Cannot send or receive after socket is closed.", {ESHUTDOWN, EPIPE}},
    {10059, "Too many references, cannot splice.", {ETOOMANYREFS, 0}},
    {10060, "Connection timed out.", {ETIMEDOUT, 0}},
    {10061, "Connection refused.", {ECONNREFUSED, 0}},
    {10062, "Too many levels of symbolic links.", {ELOOP, 0}},
    {10063, "File name too long.", {ENAMETOOLONG, 0}},
    {10064, "Host is down.", {EHOSTDOWN, 0}},
    {10065, "No route to host.", {EHOSTUNREACH, 0}},
    {10066, "Directory not empty", {ENOTEMPTY, 0}},
};

// Resolver codes: host not found, try again, non-recoverable failure, no address of the kind.
constexpr int kHostNotFound = 11001;
constexpr int kTryAgain = 11002;
constexpr int kNoRecovery = 11003;
constexpr int kNoData = 11004;

}  // namespace

int socketErrorCode(int posixError) {
    if (posixError == 0) {
        return 0;
    }
    for (const SocketCondition& condition : kSocketConditions) {
        if (condition.posixErrors[0] == posixError || condition.posixErrors[1] == posixError) {
            return condition.code;
        }
    }
    return posixError;
}

int resolverErrorCode(int resolverError, int systemError) {
    switch (resolverError) {
        case EAI_NONAME:
            return kHostNotFound;
        case EAI_AGAIN:
            return kTryAgain;
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return kNoData;
        case EAI_SYSTEM:
            return socketErrorCode(systemError);
        default:
            return kNoRecovery;
    }
}

std::string socketErrorMessage(int code) {
    std::string message = "Socket Error # " + std::to_string(code) + "\r\n";
    for (const SocketCondition& condition : kSocketConditions) {
        if (condition.code == code) {
            message += condition.text;
            break;
        }
    }
    return message;
}

void throwSocketError(int posixError) {
    throw TransportError(socketErrorMessage(socketErrorCode(posixError)));
}

}  // namespace qvlink
