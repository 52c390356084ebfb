#pragma once
// UTF-8 inside, UTF-16 at the Windows API: the conversions, and window texts read and written
// as UTF-8. Invalid input never throws: a bad sequence becomes U+FFFD.
#include <windows.h>

#include <string>
#include <string_view>

namespace edbwin {

[[nodiscard]] std::wstring Wide(std::string_view utf8);
[[nodiscard]] std::string Utf8(std::wstring_view wide);

[[nodiscard]] std::string WindowText(HWND window);
void SetWindowText(HWND window, std::string_view utf8);
[[nodiscard]] std::string ItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, std::string_view utf8);

} // namespace edbwin
