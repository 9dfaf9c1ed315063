#pragma once

// Datagrams that look like bus traffic but that a monitor must ignore.

#include <array>
#include <cstdint>
#include <vector>

#include "device_identity.h"
#include "signal_model.h"

namespace qvlink::sim {

enum class MalformedKind : std::uint8_t { BadMagic, UnknownType, TooShort, TooLong };

inline constexpr std::array<MalformedKind, 4> kMalformedKinds{
    MalformedKind::BadMagic, MalformedKind::UnknownType, MalformedKind::TooShort,
    MalformedKind::TooLong};

/// "bad magic", "unknown type", "too short", "too long".
const char* malformedKindText(MalformedKind kind);

/// A TS report of `device` spoilt in the given way: magic bytes off, a type code outside
/// the table, cut to the 9 header bytes, or grown beyond 240 bytes.
std::vector<std::uint8_t> buildMalformed(MalformedKind kind, const DeviceIdentity& device,
                                         Random& random);

}  // namespace qvlink::sim
