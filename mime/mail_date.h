#pragma once
// RFC 5322 dates: the Date header this program writes, and dates read back from messages.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace edb::conv {

// "Sat, 24 Jan 2004 12:52:22 +0000" for seconds since 1970 (UTC).
[[nodiscard]] std::string FormatMailDate(std::int64_t unixSeconds);

// "Sat Jan 24 12:52:22 2004" (asctime's form, UTC): the date of an mbox "From " line.
[[nodiscard]] std::string FormatMboxDate(std::int64_t unixSeconds);

// Seconds since 1970 for an RFC 5322 date, obsolete forms included (two-digit years, zone names
// such as GMT or EST, a missing weekday or seconds, comments); nothing when it is not a date.
[[nodiscard]] std::optional<std::int64_t> ParseMailDate(std::string_view text);

} // namespace edb::conv
