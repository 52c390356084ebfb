// Dates in headers. Parsing is lenient in what old mail holds, strict about the numbers.
#include "mime/mail_date.h"

#include "charset/header_chars.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

namespace edb::conv {
namespace {

constexpr std::array<std::string_view, 7> kWeekdays{"Sun", "Mon", "Tue", "Wed",
                                                    "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Words of the date: comments dropped, split at spaces and commas (a colon stays in the time).
std::vector<std::string_view> tokens(std::string_view s) {
    std::vector<std::string_view> out;
    int depth = 0;
    std::size_t start = std::string_view::npos;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        const char c = i < s.size() ? s[i] : ' ';
        const bool sep = c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == '(' ||
                         c == ')' || depth > 0;
        if (sep && start != std::string_view::npos) {
            out.push_back(s.substr(start, i - start));
            start = std::string_view::npos;
        }
        depth += c == '(' ? 1 : (c == ')' && depth > 0 ? -1 : 0);
        if (!sep && start == std::string_view::npos) {
            start = i;
        }
    }
    return out;
}

std::optional<int> number(std::string_view s, std::size_t minDigits, std::size_t maxDigits) {
    if (s.size() < minDigits || s.size() > maxDigits) {
        return std::nullopt;
    }
    int v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        v = v * 10 + (c - '0');
    }
    return v;
}

std::optional<int> month(std::string_view s) {
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
        if (s.size() >= 3 && header::EqualsNoCase(s.substr(0, 3), kMonths[m])) {
            return static_cast<int>(m) + 1;
        }
    }
    return std::nullopt;
}

// hh:mm[:ss] as seconds of the day.
std::optional<int> timeOfDay(std::string_view s) {
    const auto c1 = s.find(':');
    if (c1 == std::string_view::npos) {
        return std::nullopt;
    }
    const auto c2 = s.find(':', c1 + 1);
    const auto h = number(s.substr(0, c1), 1, 2);
    const auto m =
        number(s.substr(c1 + 1, c2 == std::string_view::npos ? s.npos : c2 - c1 - 1), 2, 2);
    const auto sec =
        c2 == std::string_view::npos ? std::optional<int>(0) : number(s.substr(c2 + 1), 2, 2);
    if (!h || !m || !sec || *h > 23 || *m > 59 || *sec > 60) {
        return std::nullopt;
    }
    return *h * 3600 + *m * 60 + *sec;
}

// Zone offset in seconds east of UTC; unknown names count as UTC (RFC 5322 4.3).
int zoneOffset(std::string_view s) {
    if ((s.size() == 5) && (s[0] == '+' || s[0] == '-')) {
        if (const auto v = number(s.substr(1), 4, 4); v && *v % 100 < 60) {
            const int secs = (*v / 100) * 3600 + (*v % 100) * 60;
            return s[0] == '-' ? -secs : secs;
        }
        return 0;
    }
    static constexpr std::array<std::pair<std::string_view, int>, 8> kNames{{
        {"EST", -5},
        {"EDT", -4},
        {"CST", -6},
        {"CDT", -5},
        {"MST", -7},
        {"MDT", -6},
        {"PST", -8},
        {"PDT", -7},
    }};
    for (const auto& [name, hours] : kNames) {
        if (header::EqualsNoCase(s, name)) {
            return hours * 3600;
        }
    }
    return 0;
}

} // namespace

std::string FormatMailDate(std::int64_t unixSeconds) {
    using namespace std::chrono;
    const sys_seconds t{seconds{unixSeconds}};
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> hms{t - day};
    char text[96];
    std::snprintf(text, sizeof text, "%s, %02u %s %04d %02lld:%02lld:%02lld +0000",
                  kWeekdays[weekday{day}.c_encoding()].data(), static_cast<unsigned>(ymd.day()),
                  kMonths[static_cast<unsigned>(ymd.month()) - 1].data(),
                  static_cast<int>(ymd.year()), static_cast<long long>(hms.hours().count()),
                  static_cast<long long>(hms.minutes().count()),
                  static_cast<long long>(hms.seconds().count()));
    return text;
}

std::string FormatMboxDate(std::int64_t unixSeconds) {
    using namespace std::chrono;
    // Years 1 to 32767: what a calendar date holds; every FILETIME lies inside.
    const sys_seconds t{seconds{std::clamp<std::int64_t>(unixSeconds, -62135596800, 971890963199)}};
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> hms{t - day};
    char text[96];
    std::snprintf(text, sizeof text, "%s %s %2u %02lld:%02lld:%02lld %d",
                  kWeekdays[weekday{day}.c_encoding()].data(),
                  kMonths[static_cast<unsigned>(ymd.month()) - 1].data(),
                  static_cast<unsigned>(ymd.day()), static_cast<long long>(hms.hours().count()),
                  static_cast<long long>(hms.minutes().count()),
                  static_cast<long long>(hms.seconds().count()), static_cast<int>(ymd.year()));
    return text;
}

std::optional<std::int64_t> ParseMailDate(std::string_view text) {
    std::vector<std::string_view> t = tokens(text);
    if (!t.empty() && !t[0].empty() && (t[0][0] < '0' || t[0][0] > '9')) {
        t.erase(t.begin()); // the day of the week, which the date itself decides
    }
    if (t.size() < 4) {
        return std::nullopt;
    }
    const auto day = number(t[0], 1, 2);
    const auto mon = month(t[1]);
    auto yr = number(t[2], 2, 4);
    const auto secs = timeOfDay(t[3]);
    if (!day || !mon || !yr || !secs || *day < 1) {
        return std::nullopt;
    }
    if (t[2].size() == 2) {
        *yr += *yr < 50 ? 2000 : 1900; // RFC 5322 4.3
    } else if (t[2].size() == 3) {
        *yr += 1900;
    }
    using namespace std::chrono;
    const year_month_day ymd{year{*yr}, std::chrono::month{static_cast<unsigned>(*mon)},
                             std::chrono::day{static_cast<unsigned>(*day)}};
    if (!ymd.ok()) {
        return std::nullopt;
    }
    const std::int64_t days = sys_days{ymd}.time_since_epoch().count();
    const int zone = t.size() > 4 ? zoneOffset(t[4]) : 0;
    return days * 86400 + *secs - zone;
}

} // namespace edb::conv
