#pragma once
// The wall clock in the computer's time zone at a moment given as a FILETIME (100 ns ticks since
// 1601-01-01 UTC). Each system's own conversion, over the whole FILETIME range: no limit at
// 1970, 2038 or 3000.
#include <cstdint>

namespace edb {

struct LocalClock {
    std::int64_t year = 0;
    int month = 0; // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0; // 0 = Sunday
};

// False where the system has no local reading for the moment (top bit set, out of its range).
[[nodiscard]] bool LocalClockAt(std::uint64_t filetime, LocalClock& out);

} // namespace edb
