#include "state/clock.h"

#include <ctime>

namespace qvlink {

LocalDateTime systemLocalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
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

}  // namespace qvlink
