#include "export/header_chars.h"

#include "io/text.h"

namespace edb::conv::header {
namespace {

bool isControlOrBidi(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
           cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
           cp == 0x2028 || cp == 0x2029;
}

} // namespace

std::string CleanHeaderText(std::string_view text, char replacement) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i; // CR LF: one replacement
            continue;
        }
        const char32_t cp = NextCodePoint(text, i);
        if (isControlOrBidi(cp)) {
            out += replacement;
        } else {
            AppendUtf8(out, cp);
        }
    }
    return out;
}

} // namespace edb::conv::header
