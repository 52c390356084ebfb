// Body encodings. The rules for choosing and wrapping follow what this program wrote before it
// had its own writer, so exports of the same store stay byte for byte the same.
#include "mime/mime_body.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace edb::conv {
namespace {

constexpr std::size_t kMaxLine = 998;        // RFC 5322 line limit without CR LF
constexpr std::size_t kBase64LineChars = 76; // RFC 2045
constexpr char kHex[] = "0123456789ABCDEF";

// Characters quoted-printable may carry as they are ('=' and controls are not).
bool qpSafe(unsigned char c) {
    return c == ' ' || c == '\t' || (c >= 33 && c <= 126 && c != '=');
}

void appendHex(std::string& out, unsigned char c) {
    out += '=';
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

// A line an mbox would quote: "From " after any number of '>'.
bool mboxQuotes(std::string_view rest) {
    const std::size_t quotes = rest.find_first_not_of('>');
    return quotes != std::string_view::npos && rest.substr(quotes, 5) == "From ";
}

// Soft breaks come before a character that would take the line past 76 with its '='; blanks
// wait to see what follows, since a blank that ends a line must be encoded. An encoded line that
// would read ">From " or "From " gets its first character encoded ("=46rom "), so an mbox holds
// it as it is rather than quoted, which readers that do not unquote would show.
void appendQuotedPrintable(std::string& out, std::string_view text) {
    std::size_t line = 0;
    int pending = -1; // a space or tab not written yet
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            if (pending != -1) {
                appendHex(out, static_cast<unsigned char>(pending));
            }
            out += "\r\n";
            line = 0;
            pending = -1;
            continue;
        }
        if (pending != -1) {
            out += static_cast<char>(pending);
            ++line;
            pending = -1;
        }
        bool safe = qpSafe(c);
        if (safe && line > 74) {
            out += "=\r\n";
            line = 0;
        }
        // (A blank that ends the line goes as "=20", and such a line needs nothing.)
        if (safe && line == 0 && (c == 'F' || c == '>') && mboxQuotes(text.substr(i))) {
            const std::size_t after = text.find("From ", i) + 5;
            safe = after >= text.size() || text[after] == '\n';
        }
        if (safe) {
            if (c == ' ' || c == '\t') {
                pending = c;
            } else {
                out += ch;
                ++line;
            }
        } else {
            if (line > 72) {
                out += "=\r\n";
                line = 0;
            }
            appendHex(out, c);
            line += 3;
        }
    }
    if (pending != -1) {
        appendHex(out, static_cast<unsigned char>(pending));
        out += "=\r\n"; // the encoded blank must not read as the end of a line
    }
}

void appendCrlf(std::string& out, std::string_view text) {
    std::size_t from = 0;
    for (std::size_t nl = text.find('\n'); nl != std::string_view::npos;
         nl = text.find('\n', from)) {
        out.append(text.substr(from, nl - from));
        out += "\r\n";
        from = nl + 1;
    }
    out.append(text.substr(from));
}

} // namespace

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;

// Whether any of the eight bytes is zero (exact: a borrow only runs past a zero byte).
bool hasZeroByte(std::uint64_t w) {
    return ((w - kOnes) & ~w & (kOnes * 0x80)) != 0;
}

} // namespace

TextEncoding ChooseTextEncoding(std::string_view text) {
    std::size_t eightBit = 0;
    std::size_t line = 0;
    std::size_t longest = 0;
    bool fromLine = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Eight bytes inside a line, without a NUL or a line end, go at once.
        while (line != 0 && i + 8 <= text.size()) {
            std::uint64_t w = 0;
            std::memcpy(&w, text.data() + i, 8);
            if (hasZeroByte(w) || hasZeroByte(w ^ (kOnes * '\n'))) {
                break;
            }
            eightBit += static_cast<std::size_t>(std::popcount(w & (kOnes * 0x80)));
            line += 8;
            i += 8;
        }
        if (i == text.size()) {
            break;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            longest = std::max(longest, line);
            line = 0;
            continue;
        }
        if (c == 0) {
            return TextEncoding::Base64;
        }
        if (line == 0 && (c == 'F' || c == '>') && mboxQuotes(text.substr(i))) {
            fromLine = true;
        }
        eightBit += c >= 0x80 ? 1 : 0;
        ++line;
    }
    longest = std::max(longest, line);
    if (eightBit > 0) {
        const auto limit = static_cast<std::size_t>(static_cast<double>(text.size()) * 0.17);
        return eightBit >= limit ? TextEncoding::Base64 : TextEncoding::QuotedPrintable;
    }
    return longest > kMaxLine || fromLine ? TextEncoding::QuotedPrintable : TextEncoding::SevenBit;
}

std::string_view EncodingName(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::QuotedPrintable:
        return "quoted-printable";
    case TextEncoding::Base64:
        return "base64";
    case TextEncoding::SevenBit:
        break;
    }
    return {};
}

namespace {

constexpr char kBase64Digits[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kBase64LineBytes = kBase64LineChars / 4 * 3; // 57 bytes make a line

// The two digits of every 12-bit value: three bytes take two look-ups.
struct Base64Pairs {
    std::array<char, 2 * 4096> digits{};
    constexpr Base64Pairs() {
        for (std::size_t v = 0; v < 4096; ++v) {
            digits[2 * v] = kBase64Digits[v >> 6];
            digits[2 * v + 1] = kBase64Digits[v & 63];
        }
    }
};
constexpr Base64Pairs kBase64Pairs;

char* base64Group(char* o, const unsigned char* p) {
    const std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    std::memcpy(o, &kBase64Pairs.digits[2 * (v >> 12)], 2);
    std::memcpy(o + 2, &kBase64Pairs.digits[2 * (v & 0xFFF)], 2);
    return o + 4;
}

} // namespace

void AppendBase64Lines(std::string& out, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    const std::size_t chars = (size + 2) / 3 * 4;
    const std::size_t lines = (chars + kBase64LineChars - 1) / kBase64LineChars;
    // Written in place: attachments are most of what a store's mail weighs.
    const std::size_t start = out.size();
    out.resize(start + chars + lines * 2);
    char* o = out.data() + start;
    std::size_t i = 0;
    for (; i + kBase64LineBytes <= size; i += kBase64LineBytes) { // whole lines
        for (std::size_t k = 0; k < kBase64LineBytes; k += 3) {
            o = base64Group(o, p + i + k);
        }
        o[0] = '\r';
        o[1] = '\n';
        o += 2;
    }
    const bool lastLine = i < size;
    for (; i + 3 <= size; i += 3) {
        o = base64Group(o, p + i);
    }
    if (const std::size_t rest = size - i; rest > 0) {
        std::uint32_t v = std::uint32_t{p[i]} << 16;
        if (rest == 2) {
            v |= std::uint32_t{p[i + 1]} << 8;
        }
        o[0] = kBase64Digits[(v >> 18) & 63];
        o[1] = kBase64Digits[(v >> 12) & 63];
        o[2] = rest == 2 ? kBase64Digits[(v >> 6) & 63] : '=';
        o[3] = '=';
        o += 4;
    }
    if (lastLine) {
        o[0] = '\r';
        o[1] = '\n';
    }
}

void AppendEncoded(std::string& out, std::string_view text, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::QuotedPrintable:
        appendQuotedPrintable(out, text);
        return;
    case TextEncoding::Base64:
        AppendBase64Lines(out, text.data(), text.size());
        return;
    case TextEncoding::SevenBit:
        appendCrlf(out, text);
        return;
    }
}

} // namespace edb::conv
