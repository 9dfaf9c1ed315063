#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/packets.h"

namespace qvlink {

/// Why a datagram on the bus port was not used: the reception's verdicts, what the UDP
/// endpoint discards before the reception sees it, and what a capture does not show whole.
enum class DropReason : std::uint8_t {
    TooLong,
    NoMagic,
    TooShort,
    UnknownType,
    Empty,      ///< no payload at all; the endpoint discards it
    Fragment,   ///< a later IP fragment of a capture; the first shows the datagram
    Truncated,  ///< the capture holds fewer bytes than the datagram has
};
inline constexpr std::size_t kDropReasonCount = 7;

/// The reason of a refused verdict; none for an accepted datagram.
std::optional<DropReason> dropReasonOf(DatagramVerdict verdict);

/// English, as qvlink-dump prints it: the verdict's text ("bad magic", ...), "empty",
/// "fragment", "truncated".
const char* dropReasonName(DropReason reason);
/// Russian, as the statistics window shows it.
const char* dropReasonCaption(DropReason reason);
/// Only a capture can see it: the monitor never counts it.
bool isCaptureOnly(DropReason reason);

}  // namespace qvlink
