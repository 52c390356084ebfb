// Text passes eight or sixteen bytes at a time while it is plain ASCII and one character at a
// time where it is not. These cases put every kind of character the careful path handles at
// every position of a few blocks (block ends, a sequence straddling two blocks, the short tail)
// and hold the results to a character-at-a-time reading of the same bytes.
#include "charset/header_chars.h"
#include "content/body_rule.h"
#include "io/text.h"
#include "mime/mime_body.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {
using namespace edb;
using namespace edb::conv;

// The text rule read one code point at a time: drops what is not readable, counts a run of
// zero bytes once, and refuses more than one unreadable character in fifty.
std::optional<std::string> readableOneByOne(std::string_view s) {
    std::string out;
    std::size_t chars = 0;
    std::size_t bad = 0;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t at = i;
        const char32_t cp = header::NextCodePoint(s, i);
        if (cp == 0 && at > 0 && s[at - 1] == '\0') {
            continue;
        }
        ++chars;
        const bool layout = cp == '\t' || cp == '\n' || cp == '\r' || cp == '\f';
        if ((cp < 0x20 && !layout) || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp == 0xFFFD) {
            ++bad;
        } else {
            out.append(s.substr(at, i - at));
        }
    }
    if (bad * 50 > chars || out.find_first_not_of(" \t\r\n\f") == std::string::npos) {
        return std::nullopt;
    }
    return out;
}

bool validOneByOne(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t at = i;
        if (header::NextCodePoint(s, i) == 0xFFFD && s.compare(at, 3, "\xEF\xBF\xBD") != 0) {
            return false;
        }
    }
    return true;
}

// What the careful path sees: controls, layout, C1 and replacement characters, sequences cut
// short or stray, and characters of every length.
const std::vector<std::string> kOddOnes = {
    std::string(1, '\0'), std::string(3, '\0'), "\x07",         "\x7F",     "\t",
    "\r\n",               "\f",                 "\x1F",         "\xC3\xA9", "\xC2\x85",
    "\xEF\xBF\xBD",       "\xC3",               "\xE2\x82",     "\x80",     "\xF0\x9F\x98\x80",
    "\xED\xA0\x80",       "\xC0\xAF",           "\xE2\x82\xACx"};

// 100 printable characters (so one or two stray controls stay within the share).
std::string base() {
    std::string s;
    for (int i = 0; i < 100; ++i) {
        s += static_cast<char>('!' + (i * 7) % 94);
    }
    return s;
}

TEST(TextBlocks, ReadableTextAtEveryPosition) {
    const std::string b = base();
    for (const std::string& odd : kOddOnes) {
        for (std::size_t at = 0; at <= 40; ++at) {
            for (const std::size_t len : {at + 1, at + 17, std::size_t{100}}) {
                std::string s = b.substr(0, len);
                s.insert(std::min(at, s.size()), odd);
                SCOPED_TRACE(testing::Message() << "at " << at << " of " << s.size());
                EXPECT_EQ(ReadableText(s), readableOneByOne(s));
                // Two of them, one straddling the next block boundary.
                std::string two = s;
                two.insert(std::min(two.size(), (at | 7) + 1), odd);
                EXPECT_EQ(ReadableText(two), readableOneByOne(two));
            }
        }
    }
}

TEST(TextBlocks, Utf8ValidityAtEveryPosition) {
    // A formatted value is read as UTF-8 only when it is valid; else as code page 1252.
    const std::string b = base();
    for (const std::string& odd : kOddOnes) {
        for (std::size_t at = 0; at <= 40; ++at) {
            std::string s = b.substr(0, 48);
            s.insert(at, odd);
            SCOPED_TRACE(testing::Message() << "at " << at);
            const std::string trimmed = s.substr(0, s.find_last_not_of('\0') + 1);
            const auto expected = validOneByOne(trimmed)
                                      ? readableOneByOne(trimmed)
                                      : readableOneByOne(CodePageToUtf8(trimmed, 1252));
            if (expected) {
                EXPECT_EQ(DecodeText(s, 1252, true), expected);
            }
        }
    }
}

TEST(TextBlocks, CodePagesAtEveryPosition) {
    // A text converts as its bytes do one at a time, and the first byte past ASCII is found
    // wherever it lies in a block.
    const std::string b = base();
    for (const int page : {1252, 1251}) {
        for (int high = 0x80; high <= 0xFF; high += 0x0B) {
            for (std::size_t at = 0; at < 40; ++at) {
                std::string s = b.substr(0, 40);
                s[at] = static_cast<char>(high);
                s[39 - at / 3] = static_cast<char>(0xFF - (high - 0x80));
                std::string expected;
                for (const char c : s) {
                    expected += CodePageToUtf8(std::string(1, c), page);
                }
                EXPECT_EQ(CodePageToUtf8(s, page), expected) << "at " << at;
                EXPECT_EQ(NextNonAscii(s, 0), std::min(at, 39 - at / 3));
                EXPECT_EQ(NextNonAscii(b.substr(0, at) + static_cast<char>(high), 0), at);
            }
        }
    }
    EXPECT_EQ(CodePageToUtf8("", 1252), "");
    EXPECT_EQ(CodePageToUtf8("\x80\x81", 1252), "\xE2\x82\xAC\xEF\xBF\xBD"); // longest output
}

// The transfer encoding read line by line: NUL means base64, then the share of 8-bit bytes,
// then a long line or one an mbox would quote.
TextEncoding encodingByLines(std::string_view t) {
    if (t.find('\0') != std::string_view::npos) {
        return TextEncoding::Base64;
    }
    std::size_t eightBit = 0;
    for (const char c : t) {
        eightBit += static_cast<unsigned char>(c) >= 0x80 ? 1 : 0;
    }
    if (eightBit > 0) {
        return eightBit >= static_cast<std::size_t>(static_cast<double>(t.size()) * 0.17)
                   ? TextEncoding::Base64
                   : TextEncoding::QuotedPrintable;
    }
    bool quoted = false;
    std::size_t longest = 0;
    for (std::size_t from = 0;;) {
        const std::size_t nl = std::min(t.find('\n', from), t.size());
        const std::string_view line = t.substr(from, nl - from);
        const std::size_t gt = line.find_first_not_of('>');
        quoted = quoted || (gt != std::string_view::npos && line.substr(gt, 5) == "From ");
        longest = std::max(longest, line.size());
        if (nl == t.size()) {
            break;
        }
        from = nl + 1;
    }
    return longest > 998 || quoted ? TextEncoding::QuotedPrintable : TextEncoding::SevenBit;
}

TEST(TextBlocks, EncodingChoiceAtEveryPosition) {
    std::string b = base();
    b[30] = '\n';
    b[71] = '\n';
    const std::vector<std::string> odd = {std::string(1, '\0'), "\n",       "\nFrom x",
                                          "\n>>From y",          "\nFrom",   "\xC3\xA9",
                                          "\x80\x81\x82\x83\x84\x85\x86", "\n\n", "From "};
    for (const std::string& o : odd) {
        for (std::size_t at = 0; at <= 40; ++at) {
            for (const std::size_t len : {at, at + 9, std::size_t{100}}) {
                std::string s = b.substr(0, std::min(len, b.size()));
                s.insert(std::min(at, s.size()), o);
                EXPECT_EQ(ChooseTextEncoding(s), encodingByLines(s)) << "at " << at << ": " << s;
            }
        }
    }
    // Valid UTF-8 holds no NUL, wherever in a block it lies.
    for (std::size_t at = 0; at < 40; ++at) {
        std::string s = b.substr(0, 40);
        EXPECT_TRUE(header::IsValidUtf8(s));
        s[at] = '\0';
        EXPECT_FALSE(header::IsValidUtf8(s)) << "at " << at;
        s[at] = '\xC3';
        EXPECT_FALSE(header::IsValidUtf8(s)) << "at " << at;
    }
}

TEST(TextBlocks, Base64LinesOfEveryLength) {
    // Whole 57-byte lines go at once; the last line, its padding and its CR LF one group at a
    // time. Held to a digit-at-a-time encoding for every length around one and two lines.
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    for (int i = 0; i < 200; ++i) {
        bytes += static_cast<char>((i * 37 + 11) & 0xFF);
    }
    for (std::size_t size = 0; size <= bytes.size(); ++size) {
        std::string digits;
        for (std::size_t i = 0; i < size; i += 3) {
            std::uint32_t v = 0;
            for (std::size_t k = 0; k < 3; ++k) {
                v = v << 8 | (i + k < size ? static_cast<unsigned char>(bytes[i + k]) : 0U);
            }
            for (std::size_t k = 0; k < 4; ++k) {
                digits += k <= size - i ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
            }
        }
        std::string expected;
        for (std::size_t at = 0; at < digits.size(); at += 76) {
            expected += digits.substr(at, 76) + "\r\n";
        }
        std::string out = "head";
        AppendBase64Lines(out, bytes.data(), size);
        EXPECT_EQ(out, "head" + expected) << size << " bytes";
    }
}

} // namespace
