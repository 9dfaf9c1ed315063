#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "common/bus_types.h"

namespace qvlink {

/// Source of reception times. The program uses the local clock; tests pass a fixed one.
using Clock = std::function<LocalDateTime()>;

/// The current local date and time with milliseconds.
LocalDateTime systemLocalTime();
/// The local date and time with milliseconds of `epochMicros` (microseconds since 1970 UTC);
/// all zero for a moment before 1970 or beyond the calendar.
LocalDateTime localTimeOf(std::int64_t epochMicros);

/// Source of absolute times in microseconds since 1970 UTC, for what is kept beyond the
/// session (history, events). The program reads the system clock; tests drive their own.
using EpochClock = std::function<std::int64_t()>;

/// The system's real-time clock in microseconds since 1970 UTC.
std::int64_t systemEpochMicros();

/// An item's time tag as microseconds since 1970 UTC, reading the tag as local time (years
/// 2000 to 2099); nothing for a tag that is absent (month 0) or names no valid moment.
std::optional<std::int64_t> timeTagMicros(const TTimeTag& tag);

}  // namespace qvlink
