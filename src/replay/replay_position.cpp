#include "replay/replay_position.h"

#include <cstdio>

#include "common/clock.h"

namespace qvlink {
namespace {

/// "mm:ss", or "h:mm:ss" from an hour on.
std::string spanText(std::int64_t micros) {
    const std::int64_t seconds = micros / 1'000'000;
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds % 3600 / 60), static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    }
    return text;
}

}  // namespace

std::string replayPositionText(std::int64_t positionUs, std::int64_t startUs, std::int64_t endUs,
                               const FormatSettings& format) {
    return timeOfDayText(localTimeOf(positionUs), format) + "  (" + spanText(positionUs - startUs) +
           " из " + spanText(endUs - startUs) + ")";
}

}  // namespace qvlink
