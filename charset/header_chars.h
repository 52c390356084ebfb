#pragma once
// Character tests shared by the header writer and the sender-text reader: UTF-8 decoding that
// never fails, RFC 5322 atext, the small string checks and the control cleaning both need.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace edb::conv::header {

// Decodes one UTF-8 sequence at s[i]; invalid input yields U+FFFD and consumes one byte.
inline char32_t NextCodePoint(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len = 1;
    char32_t cp = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + len > s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr std::array<char32_t, 5> kMin{0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += len;
    return cp;
}

// Whole, shortest-form UTF-8 without surrogates and without NUL: text that may go out as it is
// (a NUL in a value means it is not text).
inline bool IsValidUtf8(std::string_view s) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHigh = kOnes * 0x80;
    for (std::size_t i = 0; i < s.size();) {
        if (i + 8 <= s.size()) { // eight ASCII bytes without a NUL go at once
            std::uint64_t w = 0;
            std::memcpy(&w, s.data() + i, 8);
            if (((w | ((w - kOnes) & ~w)) & kHigh) == 0) {
                i += 8;
                continue;
            }
        }
        const auto b = static_cast<unsigned char>(s[i]);
        if (b == 0) {
            return false;
        }
        if (b < 0x80) {
            ++i;
            continue;
        }
        const std::size_t at = i;
        if (NextCodePoint(s, i) == 0xFFFD &&
            !(i - at == 3 && s.compare(at, 3, "\xEF\xBF\xBD") == 0)) {
            return false;
        }
    }
    return true;
}

// ASCII letters compared without case (header names, charset and month names); other bytes
// as they are.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Every byte printable ASCII (space to tilde): text a header may carry as it stands.
inline bool IsPrintableAscii(std::string_view s) {
    for (const char c : s) {
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

// RFC 5322 atext: what an atom or a dot-atom's parts are made of.
inline bool IsAtext(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

// Without leading and trailing spaces.
inline std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') {
        s.remove_prefix(1);
    }
    while (!s.empty() && s.back() == ' ') {
        s.remove_suffix(1);
    }
    return s;
}

// C0, C1, DEL, the bidi controls and the line and paragraph separators: characters neither a
// header nor a terminal is given raw.
// (Inline: the CLI's terminal text uses it without linking the Convert libraries.)
[[nodiscard]] inline bool IsControlOrBidi(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
           cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
           cp == 0x2028 || cp == 0x2029;
}

// Valid UTF-8 with C0, C1, DEL and bidi controls replaced by `replacement` (CR LF as one).
[[nodiscard]] std::string CleanHeaderText(std::string_view text, char replacement);

} // namespace edb::conv::header
