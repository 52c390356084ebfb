// Header values made safe and encoded: cleaning, RFC 2047 words, folding, phrases and RFC 2231
// file name parameters.
#include "mime/mime_header.h"

#include "charset/header_chars.h"
#include "io/text.h"

#include <cstdint>

namespace edb::conv {
namespace {

using header::IsAtext;
using header::IsPrintableAscii;
using header::NextCodePoint;
using header::TrimSpaces;

// Lines holding encoded words stay within 76 characters (RFC 2047); so do the others here.
constexpr std::size_t kFoldAt = 76;
constexpr std::size_t kWordFrame = 12;    // "=?UTF-8?B?" and "?="
constexpr std::size_t kParamSegment = 60; // characters of one RFC 2231 continuation
constexpr std::string_view kWordStart = "=?UTF-8?B?";
constexpr std::string_view kWordEnd = "?=";

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

// Joins tokens with a space, or a fold where the line would grow past kFoldAt.
// Tokens from `spacedFrom` on are joined by a space alone (the words of one parameter).
std::string fold(std::string_view name, const std::vector<std::string>& tokens,
                 std::string_view separator = " ", std::size_t spacedFrom = SIZE_MAX) {
    std::string out;
    std::size_t line = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string& t = tokens[i];
        const bool breakHere = i > 0 && !t.empty() && line + 1 + t.size() > kFoldAt;
        const std::string_view sep = i >= spacedFrom ? std::string_view(" ") : separator;
        if (i > 0) {
            out += sep.substr(0, sep.size() - 1); // e.g. ";" of "; "
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
        line += t.size() + sep.size() - 1;
    }
    return out;
}

// A display name as a phrase: atoms as they are, other printable ASCII quoted, anything else
// (and anything a reader would decode) as encoded words.
std::vector<std::string> phraseTokens(std::string_view name, std::size_t firstLineUsed) {
    const std::string clean = CleanHeaderText(name, ' ');
    if (IsPrintableAscii(clean) && clean.find("=?") == std::string::npos) {
        bool atoms = true;
        for (const char c : clean) {
            atoms = atoms && (IsAtext(c) || c == ' ');
        }
        if (atoms && clean.find("  ") == std::string::npos && TrimSpaces(clean) == clean) {
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

std::string CleanAttachmentName(std::string_view name) {
    const std::string clean = CleanHeaderText(name, '_');
    const std::string_view t = TrimSpaces(clean);
    return t.empty() ? std::string("attachment") : std::string(t);
}

std::vector<std::string> EncodeWords(std::string_view utf8, std::size_t firstLineUsed) {
    std::vector<std::string> words;
    // Character boundaries, so that no word splits a character.
    std::vector<bool> boundary(utf8.size() + 1, false);
    for (std::size_t i = 0; i < utf8.size();) {
        boundary[i] = true;
        (void)NextCodePoint(utf8, i);
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
            (void)NextCodePoint(utf8, next);
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
    bool plain = IsPrintableAscii(clean) && clean.find("=?") == std::string::npos;
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
    if (!TrimSpaces(CleanHeaderText(mailbox.name, ' ')).empty()) {
        tokens = phraseTokens(TrimSpaces(CleanHeaderText(mailbox.name, ' ')), name.size() + 2);
    }
    tokens.push_back("<" + mailbox.address + ">");
    return fold(name, tokens);
}

std::string ValueWithNameParam(std::string_view name, std::string_view head, std::string_view param,
                               std::string_view fileName) {
    const std::string clean = CleanAttachmentName(fileName);
    const bool quoted = IsPrintableAscii(clean) &&
                        clean.find_first_of("\"\\;") == std::string::npos &&
                        clean.find("=?") == std::string::npos;
    std::vector<std::string> tokens{std::string(head)};
    if (quoted) {
        tokens.push_back(std::string(param) + "=\"" + clean + "\"");
        return fold(name, tokens, "; ");
    }
    // Content-Type's name is for older readers, which take only plain parameters: a quoted,
    // escaped name where it is ASCII without "=?" (readers decode such text wherever they meet
    // it). Content-Disposition has one filename in one form: a plain `filename` beside
    // `filename*` is the same parameter twice to strict readers, which keep one and flag the
    // part.
    const bool hasWord = clean.find("=?") != std::string::npos;
    const bool ascii = IsPrintableAscii(clean);
    if (!hasWord && ascii && param == "name") {
        std::string plain = std::string(param) + "=\"";
        for (const char c : clean) {
            plain += (c == '"' || c == '\\') ? std::string{'\\', c} : std::string{c};
        }
        tokens.push_back(plain + "\"");
        return fold(name, tokens, "; ");
    }
    if (!hasWord && param == "name" && clean.find_first_of("\"\\") == std::string::npos) {
        // Content-Type's name as RFC 2047 words in quotes, as desktop clients write it;
        // Content-Disposition carries the standard form.
        std::vector<std::string> words = EncodeWords(clean, name.size() + head.size() + 10);
        words.front().insert(0, std::string(param) + "=\"");
        words.back() += '"';
        tokens.insert(tokens.end(), words.begin(), words.end());
        return fold(name, tokens, "; ", 2);
    }
    // attr-char of RFC 2231 / 5987 stays, every other byte is %XX
    static constexpr char kHex[] = "0123456789ABCDEF";
    // Segments end on whole characters: readers decode each continuation on its own.
    std::vector<std::string> segments(1);
    for (std::size_t i = 0; i < clean.size();) {
        const std::size_t start = i;
        (void)NextCodePoint(clean, i);
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
