#pragma once
// Text read from store bytes. Names and values are UTF-16LE in the store; they are kept whole
// and stored as UTF-8, while every stop test looks at the low byte of a code unit and every
// limit counts code units.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "io/bytes.h"

namespace edb {

struct WideTextRule {
    std::initializer_list<std::uint8_t> stopBytes; // tested on the low byte of each code unit
    std::size_t maxUnits = 0;                       // at most this many code units
    // When set, reading goes on only while 2 * (units taken) < byteLength - 1.
    bool limitByLength = false;
    std::int64_t byteLength = 0;
};

struct WideText {
    std::u16string units; // the code units taken
    std::int64_t end = 0; // position where reading stopped (the stop unit, or just past the last)
};

// Reads code units from `start`; a unit that does not fit in the view ends the text.
WideText ReadWideUnits(const ByteView& page, std::int64_t start, const WideTextRule& rule);

// Writes one code point as UTF-8 at `out` (room for 4 bytes) and gives the bytes written;
// surrogate code points become U+FFFD.
std::size_t EncodeUtf8(char32_t cp, char* out);

// Appends one code point as UTF-8; surrogate code points become U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);

// The first byte at or after `from` that is not ASCII (s.size() when there is none). Tests eight
// bytes at a time: most text in a store is plain ASCII, and this is what lets it pass at the
// speed of memory.
std::size_t NextNonAscii(std::string_view s, std::size_t from);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& units);

// Single-byte text in Windows code page 1252 or 1251 to UTF-8.
std::string CodePageToUtf8(std::string_view bytes, int codePage);

// ASCII-only upper-casing, as name comparisons in the store are made.
std::string AsciiUpper(std::string_view s);

// Number of UTF-16 code units in a UTF-8 string (what store limits count).
std::size_t Utf16Length(std::string_view utf8);

} // namespace edb
