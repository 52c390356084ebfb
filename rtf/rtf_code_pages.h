#pragma once
// The code pages of RTF text. Windows code pages 1252 and 1251, and whatever cannot be read
// otherwise, go through the store's own converter (CodePageToUtf8), so RTF and store text
// decode those bytes alike; other code pages (\ansicpg, \cpg, font charsets) through the
// system's converter.
#include <string>
#include <string_view>

namespace edb::conv {

// The code page of an RTF font charset (\fcharsetN); `fallback` for one not listed.
[[nodiscard]] int CodePageForCharset(long charset, int fallback);

// Bytes in code page `codePage` to UTF-8. 1251 and 1252 (and 0 or less: none given) through
// CodePageToUtf8; ASCII and 65001 as they are when they are valid UTF-8; others through the
// system's converter; where that fails, read as 1252.
[[nodiscard]] std::string RtfBytesToUtf8(std::string_view bytes, int codePage);

} // namespace edb::conv
