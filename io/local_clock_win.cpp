// Windows converts through SYSTEMTIME, which spans the whole FILETIME range (the C runtime's
// localtime stops at 1970 and 3000). The zone's rules are the system's.
#include "io/local_clock.h"

#include <windows.h>

namespace edb {

bool LocalClockAt(std::uint64_t filetime, LocalClock& out) {
    if ((filetime >> 63) != 0) {
        return false;
    }
    FILETIME ft{};
    ft.dwLowDateTime = static_cast<DWORD>(filetime & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(filetime >> 32);
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    if (!::FileTimeToSystemTime(&ft, &utc) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        return false;
    }
    out.year = local.wYear;
    out.month = local.wMonth;
    out.day = local.wDay;
    out.hour = local.wHour;
    out.minute = local.wMinute;
    out.second = local.wSecond;
    // Counted from the local date itself: 1601-01-01 was a Monday.
    FILETIME localTicks{};
    SYSTEMTIME midnight = local;
    midnight.wHour = midnight.wMinute = midnight.wSecond = midnight.wMilliseconds = 0;
    if (!::SystemTimeToFileTime(&midnight, &localTicks)) {
        return false;
    }
    const std::uint64_t ticks =
        (std::uint64_t{localTicks.dwHighDateTime} << 32) | localTicks.dwLowDateTime;
    constexpr std::uint64_t kTicksPerDay = 864'000'000'000ULL;
    out.weekday = static_cast<int>((ticks / kTicksPerDay + 1) % 7);
    return true;
}

} // namespace edb
