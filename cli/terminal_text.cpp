#include "cli/terminal_text.h"

#include "charset/header_chars.h"
#include "io/text.h"

namespace edbcli {
std::string TerminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) { // the common case, byte for byte
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        const char32_t cp = edb::conv::header::NextCodePoint(text, i);
        edb::AppendUtf8(out, edb::conv::header::IsControlOrBidi(cp) ? char32_t{0xFFFD} : cp);
    }
    return out;
}

} // namespace edbcli
