#pragma once

#include <netinet/in.h>

#include <optional>
#include <string>
#include <string_view>

namespace qvlink {

/// Four decimal numbers 0..255 joined by "." ("10.0.0.5", also "010.000.000.005", read as
/// decimal). Anything else gives no address.
std::optional<in_addr> parseDottedQuad(std::string_view text);

/// The address to talk to for a host text: "LOCALHOST" in any letter case is 127.0.0.1, a dotted
/// quad is used as it is, anything else is looked up by name and its first IPv4 address is used.
/// A failed lookup raises TransportError with the socket error message of the resolver's code.
in_addr resolveHost(std::string_view host);

/// Dotted decimal text without leading zeros, as senders are reported.
std::string addressText(in_addr address);

}  // namespace qvlink
