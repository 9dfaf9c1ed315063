#include "common/clock.h"

#include <ctime>

namespace qvlink {

LocalDateTime systemLocalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // Every datagram and every item it carries reads the clock; the calendar conversion is
    // the costly part and changes only with the second, so each thread keeps its last one.
    // (localtime_r reads the time zone once per process, so a kept result is what it would
    // give again.)
    thread_local time_t convertedSecond = -1;
    thread_local tm local{};
    if (now.tv_sec != convertedSecond) {
        localtime_r(&now.tv_sec, &local);
        convertedSecond = now.tv_sec;
    }
    LocalDateTime time;
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = local.tm_sec;
    time.msec = static_cast<int>(now.tv_nsec / 1'000'000);
    return time;
}

std::int64_t systemEpochMicros() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1'000;
}

}  // namespace qvlink
