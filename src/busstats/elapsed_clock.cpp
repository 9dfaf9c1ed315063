#include "busstats/elapsed_clock.h"

#include <chrono>

namespace qvlink {

std::int64_t steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace qvlink
