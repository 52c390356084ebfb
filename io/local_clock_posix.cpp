#include "io/local_clock.h"

#include <ctime>

namespace edb {

bool LocalClockAt(std::uint64_t filetime, LocalClock& out) {
    if ((filetime >> 63) != 0) {
        return false;
    }
    constexpr std::int64_t kTicksPerSecond = 10'000'000;
    constexpr std::int64_t kSeconds1601To1970 = 11'644'473'600;
    const std::int64_t unixSeconds =
        static_cast<std::int64_t>(filetime) / kTicksPerSecond - kSeconds1601To1970;
    const auto t = static_cast<std::time_t>(unixSeconds);
    if (static_cast<std::int64_t>(t) != unixSeconds) {
        return false;
    }
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return false;
    }
    out.year = std::int64_t{local.tm_year} + 1900;
    out.month = local.tm_mon + 1;
    out.day = local.tm_mday;
    out.hour = local.tm_hour;
    out.minute = local.tm_min;
    out.second = local.tm_sec;
    out.weekday = local.tm_wday;
    return true;
}

} // namespace edb
