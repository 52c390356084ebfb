#include "cli/terminal_text.h"

#include "export/header_chars.h"
#include "io/text.h"

namespace edbcli {
namespace {

// The same characters the mail headers never carry raw.
bool isControlOrBidi(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
           cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
           cp == 0x2028 || cp == 0x2029;
}

} // namespace

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
        edb::AppendUtf8(out, isControlOrBidi(cp) ? char32_t{0xFFFD} : cp);
    }
    return out;
}

} // namespace edbcli
