// The viewer's header reading: the header block of a message, unfolded, with RFC 2047 words and
// quoted names decoded. It reads what this program writes and the usual forms of other mail.
#include "mime/eml_headers.h"

#include "charset/charset.h"
#include "charset/header_chars.h"
#include "io/text.h"

#include <optional>
#include <string_view>
#include <vector>

namespace edb::conv {
namespace {

// The first `name` header of the header block, its folded lines joined.
std::optional<std::string> headerValue(std::string_view eml, std::string_view name) {
    std::size_t at = 0;
    while (at < eml.size()) {
        std::size_t end = eml.find('\n', at);
        end = end == std::string_view::npos ? eml.size() : end;
        std::string_view line = eml.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            return std::nullopt; // the end of the header block
        }
        at = end + 1;
        const auto colon = line.find(':');
        if (line[0] == ' ' || line[0] == '\t' || colon == std::string_view::npos ||
            !header::EqualsNoCase(header::TrimSpaces(line.substr(0, colon)), name)) {
            continue;
        }
        std::string value(line.substr(colon + 1));
        while (at < eml.size() && (eml[at] == ' ' || eml[at] == '\t')) {
            end = eml.find('\n', at);
            end = end == std::string_view::npos ? eml.size() : end;
            std::string_view more = eml.substr(at, end - at);
            if (!more.empty() && more.back() == '\r') {
                more.remove_suffix(1);
            }
            value += more;
            at = end + 1;
        }
        return std::string(header::TrimSpaces(value));
    }
    return std::nullopt;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string decodeBase64(std::string_view s) {
    std::string out;
    std::uint32_t acc = 0;
    int bits = 0;
    for (const char c : s) {
        int v = -1;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        if (v < 0) {
            continue;
        }
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return out;
}

std::string decodeQ(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '_') {
            out += ' ';
        } else if (s[i] == '=' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 &&
                   hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string charsetToUtf8(std::string_view charset, const std::string& bytes) {
    if (const auto star = charset.find('*'); star != std::string_view::npos) {
        charset = charset.substr(0, star); // RFC 2231 language tag
    }
    if (header::EqualsNoCase(charset, "utf-8") || header::EqualsNoCase(charset, "us-ascii")) {
        return header::IsValidUtf8(bytes) ? bytes : CodePageToUtf8(bytes, 1252);
    }
    for (const std::string_view prefix : {"windows-", "cp"}) {
        if (charset.size() > prefix.size() &&
            header::EqualsNoCase(charset.substr(0, prefix.size()), prefix)) {
            const int page = std::atoi(std::string(charset.substr(prefix.size())).c_str());
            if (auto text = SystemCodePageToUtf8(bytes, page)) {
                return *text;
            }
        }
    }
    return CodePageToUtf8(bytes, 1252); // iso-8859-1 and anything unknown
}

// One encoded word at s[at] ("=?cs?B?...?="): its text and where it ends.
std::optional<std::pair<std::string, std::size_t>> encodedWord(std::string_view s, std::size_t at) {
    if (s.compare(at, 2, "=?") != 0) {
        return std::nullopt;
    }
    const auto q1 = s.find('?', at + 2);
    if (q1 == std::string_view::npos || q1 + 2 >= s.size() || s[q1 + 2] != '?') {
        return std::nullopt;
    }
    const auto end = s.find("?=", q1 + 3);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view charset = s.substr(at + 2, q1 - at - 2);
    const std::string_view text = s.substr(q1 + 3, end - q1 - 3);
    const char kind = static_cast<char>(s[q1 + 1] | 0x20);
    if (kind != 'b' && kind != 'q') {
        return std::nullopt;
    }
    return std::pair{charsetToUtf8(charset, kind == 'b' ? decodeBase64(text) : decodeQ(text)),
                     end + 2};
}

// Unstructured text with its encoded words decoded; blanks between two words go.
std::string decodeText(std::string_view s) {
    std::string out;
    std::size_t lastWordEnd = std::string_view::npos;
    std::size_t i = 0;
    while (i < s.size()) {
        if (auto word = encodedWord(s, i)) {
            if (lastWordEnd != std::string_view::npos &&
                header::TrimSpaces(s.substr(lastWordEnd, i - lastWordEnd)).empty()) {
                out.resize(out.size() - (i - lastWordEnd));
            }
            out += word->first;
            i = word->second;
            lastWordEnd = i;
            continue;
        }
        out += s[i] == '\t' ? ' ' : s[i];
        ++i;
    }
    return out;
}

// A display name, quoted the way an address line shows it when it holds specials.
std::string shownMailbox(std::string name, std::string address) {
    name = std::string(header::TrimSpaces(name));
    address = std::string(header::TrimSpaces(address));
    if (name.empty()) {
        return address;
    }
    if (address.empty()) {
        return name;
    }
    if (name.find_first_of("()<>@,;:\\\".[]") != std::string::npos) {
        std::string quoted = "\"";
        for (const char c : name) {
            quoted += (c == '"' || c == '\\') ? std::string{'\\', c} : std::string{c};
        }
        name = quoted + "\"";
    }
    return name + " <" + address + ">";
}

// An address list as "Name <address>, ..."; a group shows its name and its members.
std::string decodeAddresses(std::string_view s) {
    std::vector<std::string> shown;
    std::string phrase;
    std::string address;
    bool inAngle = false;
    const auto flush = [&] {
        if (!header::TrimSpaces(phrase).empty() || !address.empty()) {
            const bool bare = address.empty() && phrase.find('@') != std::string::npos;
            shown.push_back(bare ? std::string(header::TrimSpaces(phrase))
                                 : shownMailbox(decodeText(phrase), address));
        }
        phrase.clear();
        address.clear();
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            for (++i; i < s.size() && s[i] != '"'; ++i) {
                if (s[i] == '\\' && i + 1 < s.size()) {
                    ++i;
                }
                phrase += s[i];
            }
        } else if (c == '(') {
            int depth = 1;
            while (++i < s.size() && depth > 0) {
                depth += s[i] == '(' ? 1 : (s[i] == ')' ? -1 : 0);
            }
            --i;
        } else if (inAngle) {
            if (c == '>') {
                inAngle = false;
            } else {
                address += c;
            }
        } else if (c == '<') {
            inAngle = true;
        } else if (c == ',' || c == ';' || c == ':') {
            flush(); // a group's name, one member, or the group's end
        } else {
            phrase += c;
        }
    }
    flush();
    std::string out;
    for (const std::string& one : shown) {
        out += (out.empty() ? "" : ", ") + one;
    }
    return out;
}

} // namespace

EmlHeaders ReadEmlHeaders(const std::string& eml) {
    EmlHeaders h;
    h.from = decodeAddresses(headerValue(eml, "From").value_or(""));
    h.to = decodeAddresses(headerValue(eml, "To").value_or(""));
    h.date = headerValue(eml, "Date").value_or("");
    h.subject = decodeText(headerValue(eml, "Subject").value_or(""));
    return h;
}

} // namespace edb::conv
