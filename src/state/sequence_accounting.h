#pragma once

#include <cstdint>

namespace qvlink {

/// What a sequence number says about the datagrams between it and the previous one.
enum class SequenceEvent : std::uint8_t { None, Missed, Restart };

/// Classifies the step from `last` to `next` by the bus's loss-accounting rules:
/// +1 (and 255 -> 0) is normal, a forward jump is one miss, a fall back to 0 or 1 from
/// anywhere but the wrap neighbours is a device restart, anything else counts nothing.
SequenceEvent classifySequence(std::uint8_t last, std::uint8_t next);

}  // namespace qvlink
