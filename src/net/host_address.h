#pragma once

#include <netinet/in.h>

#include <string>
#include <string_view>

namespace qvlink {

/// The local address to bind for an IP text: empty is every interface, a dotted quad is used
/// as it is; anything else raises the socket error message for an unavailable address.
in_addr localBindAddress(std::string_view ip);

/// The address to talk to for a host text: "LOCALHOST" in any letter case is 127.0.0.1, a dotted
/// quad is used as it is, anything else is looked up by name and its first IPv4 address is used.
/// A failed lookup raises TransportError with the socket error message of the resolver's code.
in_addr resolveHost(std::string_view host);

/// Dotted decimal text without leading zeros, as senders are reported.
std::string addressText(in_addr address);

}  // namespace qvlink
