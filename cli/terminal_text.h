#pragma once
// Store text printed for a person. A folder name or a subject may hold terminal controls (ESC
// sequences recolour or retitle the terminal, BEL rings it) or bidirectional controls that make
// a line read differently from what it holds; the human output shows each of them, and every
// byte that is no valid UTF-8, as U+FFFD. JSON output is written exact and escaped instead.
#include <string>
#include <string_view>

namespace edbcli {

// `text` with C0 and C1 controls, DEL, the bidi controls and line separators replaced by U+FFFD.
[[nodiscard]] std::string TerminalText(std::string_view text);

} // namespace edbcli
