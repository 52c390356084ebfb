#include "views/text_fold.h"

namespace edb::views {

namespace {

// Latin Extended-A: capitals and small letters alternate, capital first, except in
// U+0139..U+0148 and U+0179..U+017E where the small letter comes first.
char32_t foldLatinExtendedA(char32_t c) {
    if (c == 0x0130) {
        return U'i'; // capital I with dot above: its letter without the dot
    }
    if (c == 0x0178) {
        return 0x00FF; // Y with diaeresis, whose small letter sits in Latin-1
    }
    if (c == 0x017F) {
        return U's'; // long s
    }
    const bool capitalOdd = (c >= 0x0139 && c <= 0x0148) || (c >= 0x0179 && c <= 0x017E);
    if (c == 0x0131 || c == 0x0138 || c == 0x0149) {
        return c; // dotless i, kra and n preceded by apostrophe have no partner here
    }
    return (c % 2 == 1) == capitalOdd ? c + 1 : c;
}

char32_t foldGreek(char32_t c) {
    if (c == 0x0386) {
        return 0x03AC;
    }
    if (c >= 0x0388 && c <= 0x038A) {
        return c + 0x25;
    }
    if (c == 0x038C) {
        return 0x03CC;
    }
    if (c == 0x038E || c == 0x038F) {
        return c + 0x3F;
    }
    if (c >= 0x0391 && c <= 0x03AB && c != 0x03A2) {
        return c + 0x20;
    }
    if (c == 0x03C2) {
        return 0x03C3; // final sigma
    }
    return c;
}

char32_t foldCyrillic(char32_t c) {
    if (c >= 0x0400 && c <= 0x040F) {
        return c + 0x50;
    }
    if (c >= 0x0410 && c <= 0x042F) {
        return c + 0x20;
    }
    if (c == 0x04C0) {
        return 0x04CF;
    }
    // Pairs, capital first: even capitals here, odd ones in U+04C1..U+04CE.
    if ((c >= 0x0460 && c <= 0x0481) || (c >= 0x048A && c <= 0x04BF) ||
        (c >= 0x04D0 && c <= 0x052F)) {
        return c % 2 == 0 ? c + 1 : c;
    }
    if (c >= 0x04C1 && c <= 0x04CE) {
        return c % 2 == 1 ? c + 1 : c;
    }
    return c;
}

// Decodes one well-formed UTF-8 sequence at `text[i]`; 0 length when it is not one.
std::size_t decode(std::string_view text, std::size_t i, char32_t& cp) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = b(0);
    std::size_t len = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (i + len > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        if ((b(k) & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b(k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

void encode(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

char32_t FoldCodePoint(char32_t c) {
    if (c < 0x80) {
        return c >= U'A' && c <= U'Z' ? c + 0x20 : c;
    }
    if (c == 0x00B5) {
        return 0x03BC; // micro sign: Greek mu
    }
    if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) {
        return c + 0x20;
    }
    if (c >= 0x0100 && c <= 0x017F) {
        return foldLatinExtendedA(c);
    }
    if (c >= 0x0370 && c <= 0x03FF) {
        return foldGreek(c);
    }
    if (c >= 0x0400 && c <= 0x052F) {
        return foldCyrillic(c);
    }
    if (c == 0x1E9E) {
        return 0x00DF; // capital sharp s
    }
    return c;
}

void FoldCaseInto(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : static_cast<char>(c));
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t len = decode(text, i, cp);
        if (len == 0) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        encode(FoldCodePoint(cp), out);
        i += len;
    }
}

std::string FoldCase(std::string_view text) {
    std::string out;
    FoldCaseInto(text, out);
    return out;
}

bool TextMatcher::foundIn(std::string_view haystack) const {
    if (m_needle.empty()) {
        return true;
    }
    FoldCaseInto(haystack, m_folded);
    return m_folded.find(m_needle) != std::string::npos;
}

bool ContainsText(std::string_view haystack, std::string_view needle) {
    return TextMatcher(needle).foundIn(haystack);
}

} // namespace edb::views
