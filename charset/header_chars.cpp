#include "charset/header_chars.h"

#include "io/text.h"

namespace edb::conv::header {

std::string CleanHeaderText(std::string_view text, char replacement) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i; // CR LF: one replacement
            continue;
        }
        const char32_t cp = NextCodePoint(text, i);
        if (IsControlOrBidi(cp)) {
            out += replacement;
        } else {
            AppendUtf8(out, cp);
        }
    }
    return out;
}

} // namespace edb::conv::header
