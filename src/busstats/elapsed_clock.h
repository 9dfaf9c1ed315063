#pragma once

#include <cstdint>
#include <functional>

namespace qvlink {

/// Milliseconds on a timeline that never steps back: when datagrams arrive, for rates and
/// gaps. The monitor uses the steady clock; tests pass a virtual one.
using ElapsedClock = std::function<std::int64_t()>;

/// Milliseconds of the system's steady clock.
std::int64_t steadyMilliseconds();

}  // namespace qvlink
