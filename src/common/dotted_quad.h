#pragma once

// IPv4 addresses as texts, as the bus and its tools write them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvlink {

/// The host-order address of four decimal numbers 0..255 joined by "." ("10.0.0.5", also
/// "010.000.000.005", read as decimal). Anything else gives no address.
std::optional<std::uint32_t> parseDottedQuad(std::string_view text);

/// Dotted decimal text without leading zeros of a host-order address.
std::string dottedQuadText(std::uint32_t address);

}  // namespace qvlink
