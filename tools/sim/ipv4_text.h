#pragma once

// Dotted-quad IPv4 texts as host-order numbers, for handing out consecutive device addresses.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvlink::sim {

/// The address of a strict dotted quad ("127.0.0.11"), or nothing for any other text.
std::optional<std::uint32_t> parseIpv4(std::string_view text);

/// Dotted decimal without leading zeros.
std::string ipv4Text(std::uint32_t address);

}  // namespace qvlink::sim
