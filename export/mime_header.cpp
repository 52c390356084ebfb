#include "export/mime_header.h"

#include "io/text.h"

#include <array>
#include <cstdint>

namespace edb::conv {
namespace {

// Lines holding encoded words stay within 76 characters (RFC 2047); so do the others here.
constexpr std::size_t kFoldAt = 76;
constexpr std::size_t kWordFrame = 12;    // "=?UTF-8?B?" and "?="
constexpr std::size_t kParamSegment = 60; // characters of one RFC 2231 continuation
constexpr std::size_t kMaxLocalPart = 64; // RFC 5321 limit of an address's local part
constexpr std::string_view kWordStart = "=?UTF-8?B?";
constexpr std::string_view kWordEnd = "?=";

// Decodes one UTF-8 sequence at s[i]; invalid input yields U+FFFD and consumes one byte.
char32_t nextCodePoint(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len = 1;
    char32_t cp = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + len > s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr std::array<char32_t, 5> kMin{0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += len;
    return cp;
}

bool isControlOrBidi(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
           cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
           cp == 0x2028 || cp == 0x2029;
}

std::string base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                                (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                                static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) {
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool isPrintableAscii(std::string_view s) {
    for (const char c : s) {
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

bool isAtext(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') {
        s.remove_prefix(1);
    }
    while (!s.empty() && s.back() == ' ') {
        s.remove_suffix(1);
    }
    return s;
}

// Joins tokens with a space, or a fold where the line would grow past kFoldAt.
std::string fold(std::string_view name, const std::vector<std::string>& tokens,
                 std::string_view separator = " ") {
    std::string out;
    std::size_t line = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string& t = tokens[i];
        const bool breakHere = i > 0 && !t.empty() && line + 1 + t.size() > kFoldAt;
        if (i > 0) {
            out += separator.substr(0, separator.size() - 1); // e.g. ";" of "; "
        }
        if (i == 0) {
            out += ' ';
            line = name.size() + 2;
        } else if (breakHere) {
            out += "\n ";
            line = 1;
        } else {
            out += ' ';
            ++line;
        }
        out += t;
        line += t.size() + separator.size() - 1;
    }
    return out;
}

// Address syntax this writer trusts: dot-atom local part and a host name.
bool isPlainAddress(std::string_view a) {
    const std::size_t at = a.find('@');
    if (at == std::string_view::npos || at == 0 || at > kMaxLocalPart || at + 1 >= a.size() ||
        a.find('@', at + 1) != std::string_view::npos) {
        return false;
    }
    const std::string_view local = a.substr(0, at);
    const std::string_view domain = a.substr(at + 1);
    for (std::size_t i = 0; i < local.size(); ++i) {
        const char c = local[i];
        if (c == '.') {
            if (i == 0 || i + 1 == local.size() || local[i - 1] == '.') {
                return false;
            }
        } else if (!isAtext(c)) {
            return false;
        }
    }
    std::size_t label = 0;
    for (const char c : domain) {
        if (c == '.') {
            if (label == 0) {
                return false;
            }
            label = 0;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '-') {
            ++label;
        } else {
            return false;
        }
    }
    return label > 0;
}

// Latin-1 letters without their accents, so that "Núñez" gives "nunez" (index: code point -
// 0xC0; '.' where there is no plain letter).
constexpr std::string_view kLatin1Base = "aaaaaaaceeeeiiiidnooooo.ouuuuyts"
                                         "aaaaaaaceeeeiiiidnooooo.ouuuuyty";

std::string madeUpLocalPart(std::string_view name) {
    std::string local;
    for (std::size_t i = 0; i < name.size() && local.size() < kMaxLocalPart;) {
        char32_t cp = nextCodePoint(name, i);
        if (cp >= 0xC0 && cp <= 0xFF) {
            cp = static_cast<unsigned char>(kLatin1Base[cp - 0xC0]);
        }
        if ((cp >= 'a' && cp <= 'z') || (cp >= '0' && cp <= '9')) {
            local += static_cast<char>(cp);
        } else if (cp >= 'A' && cp <= 'Z') {
            local += static_cast<char>(cp - 'A' + 'a');
        } else if (!local.empty() && local.back() != '.') {
            local += '.';
        }
    }
    while (!local.empty() && local.back() == '.') {
        local.pop_back();
    }
    return local.empty() ? "unknown" : local;
}

// A display name as a phrase: atoms as they are, other printable ASCII quoted, anything else
// (and anything a reader would decode) as encoded words.
std::vector<std::string> phraseTokens(std::string_view name, std::size_t firstLineUsed) {
    const std::string clean = CleanHeaderText(name, ' ');
    if (isPrintableAscii(clean) && clean.find("=?") == std::string::npos) {
        bool atoms = true;
        for (const char c : clean) {
            atoms = atoms && (isAtext(c) || c == ' ');
        }
        if (atoms && clean.find("  ") == std::string::npos && trim(clean) == clean) {
            std::vector<std::string> out;
            std::size_t start = 0;
            while (start <= clean.size()) {
                const std::size_t sp = std::min(clean.find(' ', start), clean.size());
                out.emplace_back(clean.substr(start, sp - start));
                start = sp + 1;
            }
            return out;
        }
        std::string quoted = "\"";
        for (const char c : clean) {
            if (c == '"' || c == '\\') {
                quoted += '\\';
            }
            quoted += c;
        }
        return {quoted + "\""};
    }
    return EncodeWords(clean, firstLineUsed);
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
        const char32_t cp = nextCodePoint(text, i);
        if (isControlOrBidi(cp)) {
            out += replacement;
        } else {
            AppendUtf8(out, cp);
        }
    }
    return out;
}

std::string CleanAttachmentName(std::string_view name) {
    const std::string clean = CleanHeaderText(name, '_');
    const std::string_view t = trim(clean);
    return t.empty() ? std::string("attachment") : std::string(t);
}

EmlAddress ParseSenderText(std::string_view text, std::string_view fallbackName) {
    const std::string clean = CleanHeaderText(text, ' ');
    const std::string_view t = trim(clean);
    const std::size_t lt = t.rfind('<');
    if (lt != std::string_view::npos && t.size() > lt + 2 && t.back() == '>') {
        const std::string_view addr = t.substr(lt + 1, t.size() - lt - 2);
        if (isPlainAddress(addr)) {
            std::string_view name = trim(t.substr(0, lt));
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
                name = name.substr(1, name.size() - 2);
            }
            return {std::string(name), std::string(addr), false};
        }
    }
    if (isPlainAddress(t)) {
        return {"", std::string(t), false};
    }
    // An address inside other text ("John [john@example.com]", "john@example.com (John)").
    if (const std::size_t at = t.find('@'); at != std::string_view::npos) {
        const auto addrChar = [](char c) { return isAtext(c) || c == '.'; };
        std::size_t from = at;
        std::size_t to = at + 1;
        while (from > 0 && addrChar(t[from - 1])) {
            --from;
        }
        while (to < t.size() && addrChar(t[to])) {
            ++to;
        }
        while (to > at + 1 && t[to - 1] == '.') {
            --to; // a full stop after the address ends the sentence
        }
        const std::string_view addr = t.substr(from, to - from);
        if (isPlainAddress(addr)) {
            std::string rest = std::string(t.substr(0, from)) + " " + std::string(t.substr(to));
            for (char& c : rest) {
                c = std::string_view("<>[]()\"'").find(c) != std::string_view::npos ? ' ' : c;
            }
            return {std::string(trim(rest)), std::string(addr), false};
        }
    }
    const std::string name(t.empty() ? fallbackName : t);
    // A directory name ("/O=Org/OU=Site/CN=Recipients/CN=jsmith") is known by its last CN.
    std::string_view local = name;
    if (name.starts_with("/O=") || name.starts_with("/o=")) {
        const std::size_t upper = name.rfind("/CN=");
        const std::size_t lower = name.rfind("/cn=");
        const std::size_t cn = upper == std::string::npos   ? lower
                               : lower == std::string::npos ? upper
                                                            : std::max(upper, lower);
        if (cn != std::string::npos) {
            local = std::string_view(name).substr(cn + 4);
        }
    }
    return {name, madeUpLocalPart(local) + "@" + std::string(kNoAddressDomain), true};
}

std::vector<std::string> EncodeWords(std::string_view utf8, std::size_t firstLineUsed) {
    std::vector<std::string> words;
    // Character boundaries, so that no word splits a character.
    std::vector<bool> boundary(utf8.size() + 1, false);
    for (std::size_t i = 0; i < utf8.size();) {
        boundary[i] = true;
        (void)nextCodePoint(utf8, i);
    }
    boundary[utf8.size()] = true;
    std::size_t start = 0;
    while (start < utf8.size()) {
        // Room on this line: after the header name on the first, after one space on the others.
        const std::size_t used = words.empty() ? std::min(firstLineUsed, kFoldAt / 2) : 1;
        const std::size_t room = kFoldAt - used - kWordFrame;
        const std::size_t wordBytes = room / 4 * 3;
        std::size_t cut = 0;
        if (utf8.size() - start <= wordBytes) {
            cut = utf8.size() - start;
        } else {
            for (std::size_t n = wordBytes; n > 0 && cut == 0; --n) {
                cut = boundary[start + n] && n % 3 == 0 ? n : 0;
            }
        }
        if (cut > 0) {
            words.push_back(std::string(kWordStart) + base64(utf8.substr(start, cut)) +
                            std::string(kWordEnd));
            start += cut;
            continue;
        }
        // No whole-character cut at a multiple of three bytes (one ASCII byte before 3-byte
        // characters keeps every boundary off it): this word goes as Q, which has no padding.
        std::string q;
        std::size_t end = start;
        while (end < utf8.size()) {
            std::size_t next = end;
            (void)nextCodePoint(utf8, next);
            std::string piece;
            for (std::size_t k = end; k < next; ++k) {
                const char c = utf8[k];
                if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
                    piece += c;
                } else if (c == ' ') {
                    piece += '_';
                } else {
                    static constexpr char kHex[] = "0123456789ABCDEF";
                    const auto b = static_cast<unsigned char>(c);
                    piece += {'=', kHex[b >> 4], kHex[b & 15]};
                }
            }
            if (q.size() + piece.size() > room) {
                break;
            }
            q += piece;
            end = next;
        }
        words.push_back("=?UTF-8?Q?" + q + std::string(kWordEnd));
        start = end;
    }
    return words;
}

std::string UnstructuredValue(std::string_view name, std::string_view text) {
    const std::string clean = CleanHeaderText(text, ' ');
    bool plain = isPrintableAscii(clean) && clean.find("=?") == std::string::npos;
    std::vector<std::string> tokens;
    if (plain) {
        std::size_t start = 0;
        while (start <= clean.size()) {
            const std::size_t sp = std::min(clean.find(' ', start), clean.size());
            tokens.emplace_back(clean.substr(start, sp - start));
            plain = plain && tokens.back().size() <= kFoldAt;
            start = sp + 1;
        }
    }
    if (!plain) {
        tokens = EncodeWords(clean, name.size() + 2);
    }
    return fold(name, tokens);
}

std::string MailboxValue(std::string_view name, const EmlAddress& mailbox) {
    std::vector<std::string> tokens;
    if (!trim(CleanHeaderText(mailbox.name, ' ')).empty()) {
        tokens = phraseTokens(trim(CleanHeaderText(mailbox.name, ' ')), name.size() + 2);
    }
    tokens.push_back("<" + mailbox.address + ">");
    return fold(name, tokens);
}

std::string ValueWithNameParam(std::string_view name, std::string_view head, std::string_view param,
                               std::string_view fileName) {
    const std::string clean = CleanAttachmentName(fileName);
    const bool quoted = isPrintableAscii(clean) &&
                        clean.find_first_of("\"\\;") == std::string::npos &&
                        clean.find("=?") == std::string::npos;
    std::vector<std::string> tokens{std::string(head)};
    if (quoted) {
        tokens.push_back(std::string(param) + "=\"" + clean + "\"");
        return fold(name, tokens, "; ");
    }
    // attr-char of RFC 2231 / 5987 stays, every other byte is %XX
    static constexpr char kHex[] = "0123456789ABCDEF";
    // Segments end on whole characters: readers decode each continuation on its own.
    std::vector<std::string> segments(1);
    for (std::size_t i = 0; i < clean.size();) {
        const std::size_t start = i;
        (void)nextCodePoint(clean, i);
        std::string piece;
        for (std::size_t k = start; k < i; ++k) {
            const char c = clean[k];
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos) {
                piece += c;
            } else {
                const auto b = static_cast<unsigned char>(c);
                piece += {'%', kHex[b >> 4], kHex[b & 15]};
            }
        }
        if (!segments.back().empty() && segments.back().size() + piece.size() > kParamSegment) {
            segments.emplace_back();
        }
        segments.back() += piece;
    }
    if (segments.size() == 1) {
        tokens.push_back(std::string(param) + "*=UTF-8''" + segments[0]);
    } else {
        for (std::size_t i = 0; i < segments.size(); ++i) {
            tokens.push_back(std::string(param) + "*" + std::to_string(i) +
                             "*=" + (i == 0 ? "UTF-8''" : "") + segments[i]);
        }
    }
    return fold(name, tokens, "; ");
}

} // namespace edb::conv
