#pragma once

#include <string>

#include "common/bus_types.h"
#include "common/rendering.h"

namespace qvlink {

/// One-line description of a parsed datagram for the bus trace, e.g. "Тирон: ТИ цикл".
std::string describePacket(const TPacket& packet, const FormatSettings& format);
/// The same text appended to `text`, so that a caller describing every datagram can reuse
/// one buffer.
void appendPacketDescription(const TPacket& packet, const FormatSettings& format,
                             std::string& text);

}  // namespace qvlink
