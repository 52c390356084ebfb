// The body rule (see body_rule.h): what is text, what is HTML, and which body is shown.
#include "content/body_rule.h"

#include "charset/header_chars.h"
#include "content/html_text.h"
#include "rtf/rtf_text.h"
#include "io/text.h"

#include <array>
#include <cctype>
#include <cstring>

namespace edb::conv {
namespace {

// Carved values may carry a few stray control bytes; more than one character in fifty, and
// the value is not text but binary data (or text in an encoding it does not state).
constexpr std::size_t kControlShare = 50;
// UTF-16 without a byte-order mark: most code units have a small high byte (Latin, Greek,
// Cyrillic, Hebrew, Arabic all lie below U+2000), while the low bytes seldom do.
constexpr std::size_t kUtf16HighPercent = 60;
constexpr std::size_t kUtf16LowPercent = 20;
constexpr unsigned char kSmallByte = 0x20;

bool isUnreadable(char32_t cp) {
    const bool layout = cp == '\t' || cp == '\n' || cp == '\r' || cp == '\f';
    return (cp < 0x20 && !layout) || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp == 0xFFFD;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// Eight bytes of text tested at once (0x80 in every byte, as a mask). With no high bit set in
// `w`, a byte below 0x20 borrows into its high bit when 0x20 is taken from it, and DEL, zero
// after the xor, borrows when 1 is taken: no bit of the result means printable ASCII only.
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHigh = kOnes * 0x80;

std::uint64_t load8(const char* p) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, 8);
    return w;
}

bool controlOrDel8(std::uint64_t asciiWord) {
    return (((asciiWord - kOnes * 0x20) | ((asciiWord ^ (kOnes * 0x7F)) - kOnes)) & kHigh) != 0;
}

bool validUtf8(std::string_view s) {
    for (std::size_t i = NextNonAscii(s, 0); i < s.size(); i = NextNonAscii(s, i)) {
        const std::size_t at = i;
        if (header::NextCodePoint(s, i) == 0xFFFD && s.compare(at, 3, "\xEF\xBF\xBD") != 0) {
            return false;
        }
    }
    return true;
}

// Text with its unreadable characters removed, and whether they stay within the small share.
// A run of zero bytes counts once: a text with a zeroed hole (a damaged page) is still text,
// while zero bytes between the characters (UTF-16 read as 8-bit) or binary data are not.
// Printable ASCII passes eight bytes at a time; what is kept is copied in runs between the
// dropped characters, so a clean text is one copy.
std::pair<std::string, bool> withoutControls(std::string_view utf8) {
    std::string out;
    std::size_t chars = 0;
    std::size_t bad = 0;
    std::size_t kept = 0; // start of the kept bytes not copied yet
    const std::size_t n = utf8.size();
    // Drops the character at [at, i): the kept bytes before it are copied first.
    const auto drop = [&](std::size_t at, std::size_t i) {
        if (out.capacity() < n) {
            out.reserve(n);
        }
        out.append(utf8.data() + kept, at - kept);
        kept = i;
    };
    // One ASCII byte, as the rule counts it.
    const auto ascii = [&](std::size_t at) {
        const auto b = static_cast<unsigned char>(utf8[at]);
        if (b >= 0x20 && b != 0x7F) {
            ++chars;
        } else if (b == 0 && at > 0 && utf8[at - 1] == '\0') {
            drop(at, at + 1); // the rest of a run of zero bytes, counted once
        } else {
            ++chars;
            if (b != '\t' && b != '\n' && b != '\r' && b != '\f') { // a control byte
                ++bad;
                drop(at, at + 1);
            }
        }
    };
    std::size_t i = 0;
    while (i < n) {
        if (i + 8 <= n) {
            const std::uint64_t w = load8(utf8.data() + i);
            if ((w & kHigh) == 0) {
                if (controlOrDel8(w)) { // a line end, a tab, or a byte to drop
                    for (const std::size_t end = i + 8; i < end; ++i) {
                        ascii(i);
                    }
                } else {
                    i += 8;
                    chars += 8;
                }
                continue;
            }
        }
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            ascii(i++);
            continue;
        }
        const std::size_t at = i;
        const char32_t cp = header::NextCodePoint(utf8, i);
        ++chars;
        if (isUnreadable(cp)) {
            ++bad;
            drop(at, i);
        }
    }
    if (kept == 0) {
        out.assign(utf8);
    } else {
        out.append(utf8.data() + kept, n - kept);
    }
    return {std::move(out), bad * kControlShare <= chars};
}

enum class Utf16 { No, Le, Be };

// Which side of the code units holds the high bytes, told from the bytes alone.
Utf16 utf16Order(std::string_view b) {
    const std::size_t units = b.size() / 2;
    if (units == 0) {
        return Utf16::No;
    }
    std::array<std::size_t, 2> small{}; // units whose first / second byte is small
    for (std::size_t u = 0; u < units; ++u) {
        for (std::size_t side = 0; side < 2; ++side) {
            small[side] += static_cast<unsigned char>(b[2 * u + side]) < kSmallByte ? 1 : 0;
        }
    }
    const auto share = [&](std::size_t n) { return n * 100 / units; };
    if (share(small[1]) >= kUtf16HighPercent && share(small[0]) <= kUtf16LowPercent) {
        return Utf16::Le;
    }
    if (share(small[0]) >= kUtf16HighPercent && share(small[1]) <= kUtf16LowPercent) {
        return Utf16::Be;
    }
    return Utf16::No;
}

std::string utf16ToUtf8(std::string_view b, Utf16 order) {
    std::u16string units;
    units.reserve(b.size() / 2);
    for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
        const auto lo = static_cast<unsigned char>(b[order == Utf16::Le ? i : i + 1]);
        const auto hi = static_cast<unsigned char>(b[order == Utf16::Le ? i + 1 : i]);
        units.push_back(static_cast<char16_t>(hi << 8 | lo));
    }
    return Utf16ToUtf8(units);
}

std::string_view trimTrailingNuls(std::string_view b) {
    while (!b.empty() && b.back() == '\0') {
        b.remove_suffix(1);
    }
    return b;
}

// Known elements only: compressed or binary data holds '<' and a letter often enough.
bool hasKnownTag(std::string_view text) {
    static constexpr std::array<std::string_view, 24> kTags = {
        "html", "head",     "body",  "p",     "div", "br", "table", "tr",
        "td",   "span",     "font",  "b",     "i",   "u",  "a",     "img",
        "meta", "!doctype", "title", "style", "ul",  "li", "pre",   "strong"};
    const std::size_t lastGt = text.rfind('>');
    for (std::size_t lt = text.find('<'); lt != std::string_view::npos;
         lt = text.find('<', lt + 1)) {
        std::size_t at = lt + 1;
        at += at < text.size() && text[at] == '/' ? 1 : 0;
        std::string name;
        while (at < text.size() && name.size() < 9 &&
               (std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '!')) {
            name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(text[at]))));
            ++at;
        }
        const bool ends =
            at < text.size() && (isBlank(text[at]) || text[at] == '>' || text[at] == '/');
        for (const std::string_view t : kTags) {
            if (ends && name == t && lastGt != std::string_view::npos && lastGt >= at) {
                return true;
            }
        }
    }
    return false;
}

bool startsWithRtf(std::string_view s) {
    const std::size_t first = s.find_first_not_of(" \t\r\n\f");
    return first != std::string_view::npos && s.compare(first, 5, "{\\rtf") == 0;
}

} // namespace

std::optional<std::string> ReadableText(std::string_view utf8) {
    auto [text, ok] = withoutControls(utf8);
    if (!ok || text.find_first_not_of(" \t\r\n\f") == std::string::npos) {
        return std::nullopt;
    }
    return std::move(text);
}

std::optional<std::string> DecodeText(std::string_view bytes, int codePage, bool utf8) {
    if (bytes.size() >= 2 &&
        (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)) {
        const Utf16 order = bytes[0] == '\xFF' ? Utf16::Le : Utf16::Be;
        return ReadableText(utf16ToUtf8(bytes.substr(2), order));
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 && validUtf8(bytes)) {
        return ReadableText(trimTrailingNuls(bytes.substr(3)));
    }
    const std::string_view trimmed = trimTrailingNuls(bytes);
    auto text = utf8 && validUtf8(trimmed)
                    ? ReadableText(trimmed)
                    : ReadableText(CodePageToUtf8(trimmed, codePage == 1251 ? 1251 : 1252));
    if (text) {
        return text;
    }
    // A UTF-16 text ends in a zero byte of its last unit, which the trim took.
    std::string whole(trimmed);
    if (whole.size() % 2 != 0 && whole.size() < bytes.size()) {
        whole.push_back('\0');
    }
    const Utf16 order = utf16Order(whole);
    return order == Utf16::No ? std::nullopt : ReadableText(utf16ToUtf8(whole, order));
}

std::optional<std::string> RealHtml(std::string_view text) {
    auto [clean, ok] = withoutControls(text);
    if (!ok || startsWithRtf(clean) || !hasKnownTag(clean)) {
        return std::nullopt;
    }
    return std::move(clean);
}

std::string TextCharset(const std::vector<std::uint8_t>& bytes) {
    const std::string_view b(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (b.size() >= 2 && (b.compare(0, 2, "\xFF\xFE") == 0 || b.compare(0, 2, "\xFE\xFF") == 0)) {
        const Utf16 order = b[0] == '\xFF' ? Utf16::Le : Utf16::Be;
        return withoutControls(utf16ToUtf8(b.substr(2), order)).second ? "utf-16" : "";
    }
    if (validUtf8(b) && withoutControls(b).second) {
        return NextNonAscii(b, 0) < b.size() ? "utf-8" : "us-ascii";
    }
    const Utf16 order = utf16Order(b);
    if (order != Utf16::No && b.size() % 2 == 0 && withoutControls(utf16ToUtf8(b, order)).second) {
        return order == Utf16::Le ? "utf-16le" : "utf-16be";
    }
    return "";
}

void SetAttachmentType(EmlAttachment& a, const std::string& guessed) {
    a.type = guessed;
    if (guessed.compare(0, 5, "text/") == 0) {
        a.charset = TextCharset(a.bytes);
        if (a.charset.empty()) {
            a.type = "application/octet-stream";
        }
    }
}

namespace {

// What the formatted value gives under the rule.
struct FormattedReading {
    std::optional<std::string> html;
    std::optional<std::string> text; // its readable text: the RTF's, the HTML's visible text
    std::optional<std::string> rtf;
};

FormattedReading fromHtmlOrText(std::string_view s);

FormattedReading fromRtf(const std::string& rtf) {
    RtfText t = DeEncapsulateRtf(rtf);
    switch (t.content) {
    case RtfContent::Html:
        return fromHtmlOrText(t.text);
    case RtfContent::Text:
        return {std::nullopt, ReadableText(t.text), std::nullopt};
    case RtfContent::Rtf:
        break;
    }
    if (!startsWithRtf(rtf)) {
        return {}; // decompressed, but no RTF came out
    }
    return {std::nullopt, ReadableText(RtfVisibleText(rtf)), rtf};
}

FormattedReading fromHtmlOrText(std::string_view s) {
    if (auto html = RealHtml(s)) {
        auto text = ReadableText(HtmlVisibleText(*html));
        return {std::move(html), std::move(text), std::nullopt};
    }
    if (startsWithRtf(s)) {
        return fromRtf(std::string(s.substr(s.find("{\\rtf"))));
    }
    return {std::nullopt, ReadableText(s), std::nullopt};
}

FormattedReading readFormatted(const FormattedBody& f) {
    if (!f.fromRtf) {
        const auto text = DecodeText(f.raw, 1252, true);
        return text ? fromHtmlOrText(*text) : FormattedReading{};
    }
    switch (f.kind) {
    case FormattedBody::Kind::Html:
        return fromHtmlOrText(f.data);
    case FormattedBody::Kind::Text:
        return {std::nullopt, ReadableText(f.data), std::nullopt};
    case FormattedBody::Kind::Rtf:
        return fromRtf(f.data);
    case FormattedBody::Kind::None:
        break;
    }
    return {};
}

// A formatted copy of the plain text differs from it in line ends and spacing only.
bool sameWithoutSpace(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t k = 0;
    for (;;) {
        while (i < a.size() && isBlank(a[i])) {
            ++i;
        }
        while (k < b.size() && isBlank(b[k])) {
            ++k;
        }
        if (i == a.size() || k == b.size()) {
            return i == a.size() && k == b.size();
        }
        if (a[i++] != b[k++]) {
            return false;
        }
    }
}

// A value worth keeping holds something besides zero bytes and white space.
bool holdsData(std::string_view raw) {
    for (const char c : raw) {
        if (c != '\0' && !isBlank(c)) {
            return true;
        }
    }
    return false;
}

void attachText(ChosenBodies& out, const std::string& name, const std::string& text,
                const char* type) {
    out.attachments.push_back({name, {text.begin(), text.end()}, type, "utf-8"});
}

void attachUnreadable(ChosenBodies& out, const std::string& what, const std::string& at,
                      const std::string& raw) {
    const std::string name = what + " " + at + ".bin";
    out.attachments.push_back({name, {raw.begin(), raw.end()}, "application/octet-stream", ""});
    out.notes.push_back(what + ": not text; attached as " + name);
    out.unreadable.push_back("the " + what + " holds no readable text; it is attached as '" + name +
                             "'");
}

} // namespace

ChosenBodies ChooseBodies(const TextBody& plain, const FormattedBody& formatted,
                          const std::string& plainAt, const std::string& formattedAt) {
    ChosenBodies out;
    const std::optional<std::string> plainText =
        plain.found ? DecodeText(plain.raw, plain.codePage, false) : std::nullopt;
    FormattedReading f = readFormatted(formatted);
    const bool plainWhole = plainText && plain.note.empty();
    const bool formattedWhole = formatted.note.empty();
    const bool formattedReadable = f.html || f.text || f.rtf;

    // The shown text: a whole value before a cut one, the plain value before the formatted
    // one; of two cut values, the one that kept more.
    bool showPlain = plainWhole || (plainText && !f.text);
    if (!showPlain && plainText && !formattedWhole) {
        showPlain = plainText->size() >= f.text->size();
    }
    if (showPlain) {
        out.plainText = plainText;
        if (f.html && formattedWhole) {
            out.html = std::move(f.html);
        } else if (f.html) {
            attachText(out, "formatted body (incomplete).html", *f.html, "text/html");
        } else if (f.text && !f.rtf && !sameWithoutSpace(*f.text, *plainText)) {
            attachText(out,
                       formattedWhole ? "formatted body.txt" : "formatted body (incomplete).txt",
                       *f.text, "text/plain");
        }
    } else if (f.text || f.html) {
        out.plainText = std::move(f.text);
        out.html = std::move(f.html);
        if (plainText) {
            attachText(out, "plain body (incomplete).txt", *plainText, "text/plain");
        }
    }
    out.rtf = std::move(f.rtf);
    if (plain.found && !plainText && holdsData(plain.raw)) {
        attachUnreadable(out, "plain body", plainAt, plain.raw);
    }
    if (!formattedReadable && holdsData(formatted.raw)) {
        attachUnreadable(out, "formatted body", formattedAt, formatted.raw);
    }
    return out;
}

} // namespace edb::conv
