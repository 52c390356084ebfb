#pragma once
// Bytes in a Windows code page as UTF-8, through the system's converter (one file per system:
// charset_posix.cpp uses iconv; a Windows build puts MultiByteToWideChar beside it).
#include <optional>
#include <string>
#include <string_view>

namespace edb::conv {

// Nothing when the system has no converter for `codePage` or the bytes are not valid in it
// (a partial character at the end included); the caller then falls back to a table of its own.
[[nodiscard]] std::optional<std::string> SystemCodePageToUtf8(std::string_view bytes, int codePage);

} // namespace edb::conv
