#include "pst/ndb_format.h"

#include <array>

namespace edb::pst {
namespace {

std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        }
        t[i] = c;
    }
    return t;
}

const std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

// Decodes one UTF-8 sequence at s[i]; advances i. Malformed input yields U+FFFD.
std::uint32_t NextCodePoint(const std::string& s, std::size_t& i) {
    const auto b0 = static_cast<std::uint8_t>(s[i]);
    int extra = 0;
    std::uint32_t cp = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1FU;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0FU;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07U;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + extra >= s.size()) {
        i = s.size();
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<std::uint8_t>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            i += k;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3FU);
    }
    i += extra + 1;
    const bool overlong = (extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) ||
                          (extra == 3 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0xFFFD;
    }
    return cp;
}

} // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc = kCrcTable[(crc ^ data[i]) & 0xFFU] ^ (crc >> 8);
    }
    return crc;
}

std::uint16_t BlockSignature(std::uint64_t ib, std::uint64_t bid) {
    const auto x = static_cast<std::uint32_t>(ib ^ bid);
    return static_cast<std::uint16_t>((x >> 16) ^ (x & 0xFFFFU));
}

Bytes Utf16(const std::string& utf8) {
    Bytes out;
    out.reserve(utf8.size() * 2);
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::uint32_t cp = NextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            AppendU16(out, static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            AppendU16(out, static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            AppendU16(out, static_cast<std::uint16_t>(cp));
        }
    }
    return out;
}

} // namespace edb::pst
