// HTML to the text a browser would show, for the text/plain part beside an HTML body. Mail HTML
// is often broken (unclosed style blocks, stray quotes), so nothing here trusts it to be
// well formed: a construct that does not close is read as text rather than swallowing the rest.
#include "content/html_text.h"

#include "io/text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

namespace edb::conv {
namespace {

constexpr std::size_t kMaxEntityLength = 10;

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A byte of text shown as it stands: not a space, the start of markup or an entity, nor a
// control byte.
bool shownAsIs(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b > 0x20 && b != 0x7F && c != '<' && c != '&';
}

// Case-blind search, for closing tags.
std::size_t findNoCase(std::string_view s, std::string_view what, std::size_t from) {
    for (std::size_t i = from; i + what.size() <= s.size(); ++i) {
        std::size_t k = 0;
        while (k < what.size() && lower(s[i + k]) == what[k]) {
            ++k;
        }
        if (k == what.size()) {
            return i;
        }
    }
    return std::string_view::npos;
}

// The '>' that ends the tag opened before `from`; quoted attribute values may hold '>'. A quote
// left open, or one running on too far, falls back to the first '>' (and keeps broken HTML from
// costing a scan to its end per tag).
std::size_t tagEnd(std::string_view html, std::size_t from) {
    constexpr std::size_t kMaxQuoted = 4096;
    const std::size_t first = html.find('>', from);
    if (first == std::string_view::npos ||
        html.substr(from, first - from).find_first_of("\"'") == std::string_view::npos) {
        return first;
    }
    char open = 0;
    const std::size_t limit = std::min(html.size(), first + kMaxQuoted);
    for (std::size_t i = from; i < limit; ++i) {
        const char c = html[i];
        if (open != 0) {
            open = c == open ? 0 : open;
        } else if (c == '"' || c == '\'') {
            open = c;
        } else if (c == '>') {
            return i;
        }
    }
    return first;
}

// Elements whose content is not shown.
bool isHidden(std::string_view tag) {
    return tag == "head" || tag == "style" || tag == "script" || tag == "title" || tag == "xml";
}

bool endsLine(std::string_view tag) {
    static constexpr std::array<std::string_view, 24> kBlocks = {
        "br", "p",  "div", "tr",      "li",      "h1",     "h2",     "h3",
        "h4", "h5", "h6",  "table",   "pre",     "hr",     "ul",     "ol",
        "dl", "dt", "dd",  "address", "section", "header", "footer", "blockquote"};
    for (const std::string_view b : kBlocks) {
        if (tag == b) {
            return true;
        }
    }
    return false;
}

std::optional<char32_t> namedEntity(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, char32_t>, 40> kNames = {{
        {"amp", U'&'},         {"lt", U'<'},          {"gt", U'>'},          {"quot", U'"'},
        {"apos", U'\''},       {"nbsp", U' '},        {"copy", U'\u00A9'},   {"reg", U'\u00AE'},
        {"trade", U'\u2122'},  {"hellip", U'\u2026'}, {"mdash", U'\u2014'},  {"ndash", U'\u2013'},
        {"lsquo", U'\u2018'},  {"rsquo", U'\u2019'},  {"ldquo", U'\u201C'},  {"rdquo", U'\u201D'},
        {"bull", U'\u2022'},   {"middot", U'\u00B7'}, {"euro", U'\u20AC'},   {"pound", U'\u00A3'},
        {"cent", U'\u00A2'},   {"yen", U'\u00A5'},    {"sect", U'\u00A7'},   {"deg", U'\u00B0'},
        {"laquo", U'\u00AB'},  {"raquo", U'\u00BB'},  {"times", U'\u00D7'},  {"shy", U'\u00AD'},
        {"auml", U'\u00E4'},   {"ouml", U'\u00F6'},   {"uuml", U'\u00FC'},   {"Auml", U'\u00C4'},
        {"Ouml", U'\u00D6'},   {"Uuml", U'\u00DC'},   {"szlig", U'\u00DF'},  {"eacute", U'\u00E9'},
        {"egrave", U'\u00E8'}, {"agrave", U'\u00E0'}, {"ccedil", U'\u00E7'}, {"ntilde", U'\u00F1'},
    }};
    for (const auto& [n, cp] : kNames) {
        if (n == name) {
            return cp;
        }
    }
    return std::nullopt;
}

// The character an entity at html[at] ('&') stands for, and its length; nothing when the '&'
// starts no entity known here (it is then shown as it stands).
std::optional<std::pair<char32_t, std::size_t>> entityAt(std::string_view html, std::size_t at) {
    const std::size_t near = html.substr(at, kMaxEntityLength + 1).find(';');
    if (near == std::string_view::npos || near < 2) {
        return std::nullopt;
    }
    const std::size_t semi = at + near;
    const std::string_view body = html.substr(at + 1, semi - at - 1);
    const std::size_t length = semi - at + 1;
    if (body[0] != '#') {
        const auto cp = namedEntity(body);
        return cp ? std::optional(std::pair(*cp, length)) : std::nullopt;
    }
    const bool hex = body.size() > 1 && lower(body[1]) == 'x';
    std::uint32_t v = 0;
    std::size_t digits = 0;
    for (std::size_t i = hex ? 2 : 1; i < body.size(); ++i, ++digits) {
        const char c = lower(body[i]);
        const int d =
            c >= '0' && c <= '9' ? c - '0' : (hex && c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
        if (d < 0 || v > 0x10FFFF) {
            return std::nullopt;
        }
        v = v * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
    }
    if (digits == 0 || v == 0 || v > 0x10FFFF) {
        return std::nullopt;
    }
    return std::pair(static_cast<char32_t>(v), length);
}

class TextOut {
public:
    void space() { m_space = !m_text.empty(); }
    void put(char32_t cp) {
        if (cp < 0x20 || cp == 0x7F || cp == 0xAD) {
            return; // a control or a soft hyphen shows nothing
        }
        flushSpace();
        AppendUtf8(m_text, cp);
    }
    void putByte(char c) {
        flushSpace();
        m_text.push_back(c);
    }
    // Bytes shown as they stand (no space, markup, entity or control among them).
    void putRun(std::string_view run) {
        flushSpace();
        m_text.append(run);
    }
    // A block ends the line it is on; an empty block (a paragraph of one &nbsp;) still makes
    // the empty line it shows as.
    void blockEnd() {
        if (!m_lineStart) {
            newLine();
        }
    }
    // <br>: a new line, at most one empty line in a row.
    void lineBreak() {
        const std::size_t n = m_text.size();
        if (!(n >= 2 && m_text[n - 1] == '\n' && m_text[n - 2] == '\n')) {
            newLine();
        }
    }
    std::string take() {
        while (!m_text.empty() && (m_text.back() == '\n' || m_text.back() == ' ')) {
            m_text.pop_back();
        }
        return m_text.substr(std::min(m_text.find_first_not_of(" \n"), m_text.size()));
    }

private:
    void newLine() {
        while (!m_text.empty() && m_text.back() == ' ') {
            m_text.pop_back();
        }
        m_text.push_back('\n');
        m_space = false;
        m_lineStart = true;
    }
    void flushSpace() {
        if (m_space && !m_text.empty() && m_text.back() != '\n') {
            m_text.push_back(' ');
        }
        m_space = false;
        m_lineStart = false;
    }
    std::string m_text;
    bool m_space = false;
    bool m_lineStart = true;
};

} // namespace

std::string HtmlVisibleText(std::string_view html) {
    TextOut out;
    std::string unclosed; // hidden elements found to have no closing tag, searched only once
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<' && html.compare(i, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", i + 4);
            i = end == std::string_view::npos ? html.size() : end + 3;
            continue;
        }
        const bool closing = c == '<' && i + 1 < html.size() && html[i + 1] == '/';
        const std::size_t nameAt = i + (closing ? 2 : 1);
        const bool tag = c == '<' && nameAt < html.size() &&
                         (isNameChar(html[nameAt]) || html[nameAt] == '!' || html[nameAt] == '?');
        if (!tag) {
            if (isSpace(c)) {
                out.space();
            } else if (c == '&') {
                if (const auto e = entityAt(html, i)) {
                    out.put(e->first);
                    i += e->second;
                    continue;
                }
                out.putByte(c);
            } else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
                std::size_t end = i + 1; // c may be a '<' that starts no tag
                while (end < html.size() && shownAsIs(html[end])) {
                    ++end;
                }
                out.putRun(html.substr(i, end - i));
                i = end;
                continue;
            }
            ++i;
            continue;
        }
        const std::size_t end = tagEnd(html, nameAt);
        if (end == std::string_view::npos) {
            break; // a tag cut off at the end of the value
        }
        std::string name;
        for (std::size_t k = nameAt; k < end && isNameChar(html[k]); ++k) {
            name.push_back(lower(html[k]));
        }
        i = end + 1;
        if (!closing && isHidden(name) && unclosed.find(" " + name + " ") == std::string::npos) {
            const std::size_t close = findNoCase(html, "</" + name, i);
            if (close == std::string_view::npos) {
                unclosed += " " + name + " "; // later ones will not close either
            } else {
                const std::size_t closeEnd = html.find('>', close);
                i = closeEnd == std::string_view::npos ? html.size() : closeEnd + 1;
                continue;
            }
        }
        if (name == "br") {
            out.lineBreak();
        } else if (endsLine(name)) {
            out.blockEnd();
            if (name == "li" && !closing) {
                out.putByte('-');
                out.putByte(' ');
            }
        } else if (name == "td" || name == "th") {
            out.space();
        }
    }
    return out.take();
}

} // namespace edb::conv
