#pragma once

#include <cstdint>
#include <string>

#include "common/rendering.h"

namespace qvlink {

/// The replay's position for its controls: capture time of day and the time since the start
/// of the capture out of its length, "12:30:05.250  (00:05 из 01:00)".
std::string replayPositionText(std::int64_t positionUs, std::int64_t startUs, std::int64_t endUs,
                               const FormatSettings& format);

}  // namespace qvlink
