#include "common/clock.h"

#include <ctime>

namespace qvlink {

LocalDateTime systemLocalTime() {
    return localTimeOf(systemEpochMicros());
}

LocalDateTime localTimeOf(std::int64_t epochMicros) {
    constexpr std::int64_t kMicrosPerSecond = 1'000'000;
    if (epochMicros < 0) {
        return {};
    }
    const auto second = static_cast<time_t>(epochMicros / kMicrosPerSecond);
    // Every datagram and every item it carries reads the clock; the calendar conversion is
    // the costly part and changes only with the second, so each thread keeps its last one.
    // (localtime_r reads the time zone once per process, so a kept result is what it would
    // give again.)
    thread_local time_t convertedSecond = -1;
    thread_local tm local{};
    if (second != convertedSecond) {
        if (localtime_r(&second, &local) == nullptr) {
            return {};  // beyond the calendar's years
        }
        convertedSecond = second;
    }
    LocalDateTime time;
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = local.tm_sec;
    time.msec = static_cast<int>(epochMicros % kMicrosPerSecond / 1'000);
    return time;
}

std::int64_t systemEpochMicros() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1'000;
}

std::optional<std::int64_t> timeTagMicros(const TTimeTag& tag) {
    constexpr std::uint16_t kMillisPerMinute = 60'000;
    if (tag.month < 1 || tag.month > 12 || tag.day < 1 || tag.day > 31 || tag.hour > 23 ||
        tag.minute > 59 || tag.year > 99 || tag.msec >= kMillisPerMinute) {
        return std::nullopt;
    }
    tm local{};
    local.tm_year = 100 + tag.year;
    local.tm_mon = tag.month - 1;
    local.tm_mday = tag.day;
    local.tm_hour = tag.hour;
    local.tm_min = tag.minute;
    local.tm_sec = tag.msec / 1000;
    local.tm_isdst = -1;
    const time_t seconds = mktime(&local);
    if (seconds == static_cast<time_t>(-1) || local.tm_mday != tag.day) {
        return std::nullopt;  // e.g. 31 February, which mktime would move into March
    }
    return static_cast<std::int64_t>(seconds) * 1'000'000 + (tag.msec % 1000) * 1'000;
}

}  // namespace qvlink
