#include "io/text.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace edb {

WideText ReadWideUnits(const ByteView& page, std::int64_t start, const WideTextRule& rule) {
    WideText out;
    std::int64_t pos = start;
    while (out.units.size() < rule.maxUnits) {
        if (rule.limitByLength &&
            !(2 * static_cast<std::int64_t>(out.units.size()) < rule.byteLength - 1)) {
            break;
        }
        const auto unit = page.readU16Le(pos);
        if (!unit) {
            break;
        }
        const auto low = static_cast<std::uint8_t>(*unit & 0xFF);
        if (std::find(rule.stopBytes.begin(), rule.stopBytes.end(), low) != rule.stopBytes.end()) {
            break;
        }
        out.units.push_back(static_cast<char16_t>(*unit));
        pos += 2;
    }
    out.end = pos;
    return out;
}

std::size_t EncodeUtf8(char32_t cp, char* o) {
    if (cp >= 0xD800 && cp <= 0xDFFF) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        o[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        o[0] = static_cast<char>(0xC0 | (cp >> 6));
        o[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        o[0] = static_cast<char>(0xE0 | (cp >> 12));
        o[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        o[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    o[0] = static_cast<char>(0xF0 | (cp >> 18));
    o[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    o[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    o[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

void AppendUtf8(std::string& out, char32_t cp) {
    char buf[4];
    out.append(buf, EncodeUtf8(cp, buf));
}

std::size_t NextNonAscii(std::string_view s, std::size_t i) {
    constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    const char* p = s.data();
    const std::size_t n = s.size();
    for (; i + 16 <= n; i += 16) {
        std::uint64_t a = 0;
        std::uint64_t b = 0;
        std::memcpy(&a, p + i, 8);
        std::memcpy(&b, p + i + 8, 8);
        if (((a | b) & kHigh) != 0) {
            break;
        }
    }
    for (; i + 8 <= n; i += 8) {
        std::uint64_t a = 0;
        std::memcpy(&a, p + i, 8);
        if ((a & kHigh) != 0) {
            break;
        }
    }
    while (i < n && static_cast<unsigned char>(p[i]) < 0x80) {
        ++i;
    }
    return i;
}

namespace {
// Upper halves (0x80..0xFF) of the two Windows code pages the store marks.
constexpr std::array<char16_t, 128> kCp1252 = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178, 0x00A0,
    0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6,
    0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1,
    0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC,
    0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF, 0x00E0, 0x00E1, 0x00E2,
    0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED,
    0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7, 0x00F8,
    0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF};

constexpr std::array<char16_t, 128> kCp1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411,
    0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C,
    0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432,
    0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D,
    0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448,
    0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};
} // namespace

// Both conversions write into a buffer sized once for the longest result (a byte of the code
// page or a UTF-16 unit gives at most 3 bytes) and cut it to what was written.
std::string Utf16ToUtf8(const std::u16string& units) {
    std::string out(units.size() * 3, '\0');
    char* o = out.data();
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u < 0x80) {
            *o++ = static_cast<char>(u);
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                   units[i + 1] <= 0xDFFF) {
            const char32_t cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) +
                                (char32_t(units[i + 1]) - 0xDC00);
            o += EncodeUtf8(cp, o);
            ++i;
        } else {
            o += EncodeUtf8(u, o); // a lone surrogate becomes U+FFFD there
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string CodePageToUtf8(std::string_view bytes, int codePage) {
    const auto& table = codePage == 1251 ? kCp1251 : kCp1252;
    std::size_t i = NextNonAscii(bytes, 0);
    if (i == bytes.size()) {
        return std::string(bytes);
    }
    std::string out(i + (bytes.size() - i) * 3, '\0');
    std::memcpy(out.data(), bytes.data(), i);
    char* o = out.data() + i;
    while (i < bytes.size()) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        if (b < 0x80) {
            const std::size_t end = NextNonAscii(bytes, i);
            std::memcpy(o, bytes.data() + i, end - i);
            o += end - i;
            i = end;
            continue;
        }
        o += EncodeUtf8(table[b - 0x80], o);
        ++i;
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string AsciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::size_t Utf16Length(std::string_view utf8) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<std::uint8_t>(utf8[i]);
        std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        n += len == 4 ? 2 : 1;
        i += len;
    }
    return n;
}

} // namespace edb
