#pragma once

// The header sizes and codes of the Ethernet/IPv4/UDP frames that capture files hold, for
// the code that reads frames and the code that makes them up.

#include <cstddef>
#include <cstdint>

namespace qvlink {

inline constexpr std::size_t kEthernetHeaderBytes = 14;
inline constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
/// An IPv4 header without options.
inline constexpr std::size_t kIpv4HeaderBytes = 20;
inline constexpr std::uint8_t kIpProtocolUdp = 17;
inline constexpr std::size_t kUdpHeaderBytes = 8;

}  // namespace qvlink
