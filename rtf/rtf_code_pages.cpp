// Which code page RTF bytes are in (font charsets, \cpg) and those bytes as UTF-8.
#include "rtf/rtf_code_pages.h"

#include "charset/charset.h"
#include "charset/header_chars.h"
#include "io/text.h"

#include <optional>

namespace edb::conv {
namespace {

// Code pages beyond the store's own two, through the system's converter; nothing when it
// cannot convert them.
std::optional<std::string> systemConvert(std::string_view bytes, int codePage) {
    bool ascii = true;
    for (const char c : bytes) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii || codePage == 65001) {
        if (header::IsValidUtf8(bytes)) {
            return std::string(bytes);
        }
        return std::nullopt;
    }
    return SystemCodePageToUtf8(bytes, codePage);
}

} // namespace

int CodePageForCharset(long charset, int fallback) {
    switch (charset) {
    case 0:
        return 1252;
    case 2:
        return 1252; // symbol fonts: bytes are glyph numbers; 1252 keeps them readable
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 130:
        return 1361;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 254:
        return 437;
    case 255:
        return 850;
    default:
        return fallback;
    }
}

std::string RtfBytesToUtf8(std::string_view bytes, int codePage) {
    if (codePage == 1251) {
        return CodePageToUtf8(bytes, 1251);
    }
    if (codePage != 1252 && codePage > 0) {
        if (auto text = systemConvert(bytes, codePage)) {
            return std::move(*text);
        }
    }
    return CodePageToUtf8(bytes, 1252);
}

} // namespace edb::conv
