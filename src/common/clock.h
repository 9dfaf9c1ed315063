#pragma once

#include <functional>

#include "common/bus_types.h"

namespace qvlink {

/// Source of reception times. The program uses the local clock; tests pass a fixed one.
using Clock = std::function<LocalDateTime()>;

/// The current local date and time with milliseconds.
LocalDateTime systemLocalTime();

}  // namespace qvlink
