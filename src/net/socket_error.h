#pragma once

#include <string>

namespace qvlink {

/// Socket error codes are reported under the Winsock numbering that device documentation and
/// users know (10048 for an address in use, 10061 for a refused connection, ...). A condition
/// without a counterpart there keeps its own number, which gives an empty text.

/// Code for a POSIX errno value; errno values without a matching condition are returned as is.
int socketErrorCode(int posixError);

/// Code for a getaddrinfo() failure, in the resolver range 11001..11004 (outside the table, so
/// its message has an empty text). EAI_SYSTEM is reported through `systemError` (errno).
int resolverErrorCode(int resolverError, int systemError);

/// "Socket Error # <code>" CR LF and the condition's text (empty for a code not in the table).
std::string socketErrorMessage(int code);

/// Raises TransportError with the socket error message for a POSIX errno value.
[[noreturn]] void throwSocketError(int posixError);

}  // namespace qvlink
