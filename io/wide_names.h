#pragma once
// Windows file names and console text are UTF-16; the program keeps every name as UTF-8. These
// convert at the system boundary (Windows build only).
#include <string>
#include <string_view>

namespace edb {

// Invalid sequences become U+FFFD rather than failing: a name is shown or opened, never dropped.
[[nodiscard]] std::wstring WideFromUtf8(std::string_view utf8);
[[nodiscard]] std::string Utf8FromWide(std::wstring_view wide);

} // namespace edb
