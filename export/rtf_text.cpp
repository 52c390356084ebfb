#include "export/rtf_text.h"

#include "io/text.h"

#include <cstdint>
#include <glib.h>
#include <map>
#include <vector>

namespace edb::conv {
namespace {

constexpr int kDefaultCodePage = 1252;
constexpr std::size_t kMaxWordLength = 32;
constexpr std::size_t kMaxDepth = 4096;
constexpr int kOpeningTokens = 10;

struct Token {
    enum Kind { End, Open, Close, Word, Symbol, Hex, Text } kind = End;
    std::string_view word;
    bool hasParam = false;
    long param = 0;
    char ch = 0;
};

class Lexer {
public:
    explicit Lexer(std::string_view s) : m_s(s) {}

    Token next() {
        while (m_pos < m_s.size()) {
            const char c = m_s[m_pos];
            if (c == '\r' || c == '\n') {
                ++m_pos; // line breaks in RTF source carry no meaning
                continue;
            }
            Token t;
            if (c == '{') {
                ++m_pos;
                t.kind = Token::Open;
            } else if (c == '}') {
                ++m_pos;
                t.kind = Token::Close;
            } else if (c == '\\') {
                ++m_pos;
                readControl(t);
            } else {
                ++m_pos;
                t.kind = Token::Text;
                t.ch = c;
            }
            return t;
        }
        return {};
    }

    // Passes over the data of \binN.
    void skipBytes(long n) {
        if (n <= 0) {
            return;
        }
        const auto left = m_s.size() - m_pos;
        m_pos += std::min<std::size_t>(left, static_cast<std::size_t>(n));
    }

private:
    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    static int hexValue(char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    }

    void readControl(Token& t) {
        if (m_pos >= m_s.size()) {
            t.kind = Token::End;
            return;
        }
        const char c = m_s[m_pos];
        if (!isLetter(c)) {
            ++m_pos;
            if (c == '\'') {
                const int hi = m_pos < m_s.size() ? hexValue(m_s[m_pos]) : -1;
                const int lo = m_pos + 1 < m_s.size() ? hexValue(m_s[m_pos + 1]) : -1;
                if (hi >= 0 && lo >= 0) {
                    m_pos += 2;
                    t.kind = Token::Hex;
                    t.ch = static_cast<char>(hi * 16 + lo);
                    return;
                }
            }
            t.kind = Token::Symbol;
            t.ch = c;
            return;
        }
        const std::size_t start = m_pos;
        while (m_pos < m_s.size() && isLetter(m_s[m_pos]) && m_pos - start < kMaxWordLength) {
            ++m_pos;
        }
        t.kind = Token::Word;
        t.word = m_s.substr(start, m_pos - start);
        bool negative = false;
        if (m_pos < m_s.size() && m_s[m_pos] == '-' && m_pos + 1 < m_s.size() &&
            isDigit(m_s[m_pos + 1])) {
            negative = true;
            ++m_pos;
        }
        if (m_pos < m_s.size() && isDigit(m_s[m_pos])) {
            long v = 0;
            int digits = 0;
            while (m_pos < m_s.size() && isDigit(m_s[m_pos])) {
                if (digits++ < 9) {
                    v = v * 10 + (m_s[m_pos] - '0');
                }
                ++m_pos;
            }
            t.hasParam = true;
            t.param = negative ? -v : v;
        }
        if (m_pos < m_s.size() && m_s[m_pos] == ' ') {
            ++m_pos; // the delimiting space belongs to the control word
        }
    }

    std::string_view m_s;
    std::size_t m_pos = 0;
};

int codePageForCharset(long charset, int fallback) {
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

bool isSkippedDestination(std::string_view w) {
    static const char* const kSkipped[] = {"colortbl",
                                           "stylesheet",
                                           "info",
                                           "pict",
                                           "object",
                                           "header",
                                           "footer",
                                           "headerl",
                                           "headerr",
                                           "footerl",
                                           "footerr",
                                           "listtable",
                                           "listoverridetable",
                                           "revtbl",
                                           "rsidtbl",
                                           "generator",
                                           "xmlnstbl",
                                           "themedata",
                                           "colorschememapping",
                                           "datastore",
                                           "latentstyles",
                                           "fldinst",
                                           "filetbl",
                                           "pgdsctbl",
                                           "bkmkstart",
                                           "bkmkend",
                                           "footnote",
                                           "mhtmltag"};
    for (const char* s : kSkipped) {
        if (w == s) {
            return true;
        }
    }
    return false;
}

struct GroupState {
    bool skip = false; // inside a destination whose content is not text
    bool fontTable = false;
    bool htmlRtf = false; // \htmlrtf: RTF-only content, not part of the HTML
    bool inTag = false;   // inside {\*\htmltagN ...}
    bool starPending = false;
    long uc = 1;
    int codePage = kDefaultCodePage;
};

class Decoder {
public:
    explicit Decoder(std::string_view rtf) : m_lex(rtf) {}

    std::string run() {
        std::vector<GroupState> stack;
        GroupState st;
        std::size_t overflow = 0; // groups opened beyond kMaxDepth, closed without a state
        for (Token t = m_lex.next(); t.kind != Token::End; t = m_lex.next()) {
            if (t.kind == Token::Open || t.kind == Token::Close) {
                m_ucSkip = 0;
            } else if (m_ucSkip > 0) {
                --m_ucSkip; // a fallback representation of the \uN just read
                continue;
            }
            switch (t.kind) {
            case Token::Open:
                if (stack.size() >= kMaxDepth) {
                    ++overflow;
                    break;
                }
                stack.push_back(st);
                st.starPending = false;
                break;
            case Token::Close:
                if (overflow > 0) {
                    --overflow;
                } else if (!stack.empty()) {
                    st = stack.back();
                    stack.pop_back();
                }
                break;
            case Token::Word:
                word(st, t);
                break;
            case Token::Symbol:
                symbol(st, t.ch);
                break;
            case Token::Hex:
                if (emitting(st)) {
                    bytes(st, t.ch);
                }
                break;
            case Token::Text:
                st.starPending = false;
                if (st.fontTable) {
                    break;
                }
                if (emitting(st)) {
                    bytes(st, t.ch);
                }
                break;
            case Token::End:
                break;
            }
        }
        flush();
        return std::move(m_out);
    }

private:
    static bool emitting(const GroupState& st) {
        return !st.skip && !st.fontTable && (st.inTag || !st.htmlRtf);
    }

    void bytes(const GroupState& st, char c) {
        if (m_pendingCp != st.codePage) {
            flush();
            m_pendingCp = st.codePage;
        }
        m_pending.push_back(c);
    }

    void flush() {
        if (!m_pending.empty()) {
            m_out += CodePageBytesToUtf8(m_pending, m_pendingCp);
            m_pending.clear();
        }
        if (m_highSurrogate != 0) {
            edb::AppendUtf8(m_out, 0xFFFD);
            m_highSurrogate = 0;
        }
    }

    void text(std::string_view utf8) {
        flush();
        m_out += utf8;
    }

    void unicode(long n) {
        const auto unit = static_cast<char32_t>(static_cast<std::uint16_t>(n));
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            flush();
            m_highSurrogate = unit;
            return;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF && m_highSurrogate != 0) {
            const char32_t cp = 0x10000 + ((m_highSurrogate - 0xD800) << 10) + (unit - 0xDC00);
            m_highSurrogate = 0;
            if (!m_pending.empty()) {
                m_out += CodePageBytesToUtf8(m_pending, m_pendingCp);
                m_pending.clear();
            }
            edb::AppendUtf8(m_out, cp);
            return;
        }
        flush();
        edb::AppendUtf8(m_out, unit);
    }

    void word(GroupState& st, const Token& t) {
        const std::string_view w = t.word;
        if (st.starPending) {
            st.starPending = false;
            if (w == "htmltag") {
                st.inTag = true;
                st.skip = false;
            } else {
                st.skip = true; // an ignorable destination this reader does not know
            }
            return;
        }
        if (w == "fonttbl") {
            st.fontTable = true;
            return;
        }
        if (st.fontTable) {
            if (w == "f" && t.hasParam) {
                m_font = t.param;
            } else if (w == "fcharset" && t.hasParam) {
                m_fontCodePage[m_font] = codePageForCharset(t.param, m_defaultCp);
            } else if (w == "cpg" && t.hasParam && t.param > 0) {
                m_fontCodePage[m_font] = static_cast<int>(t.param);
            }
            return;
        }
        if (w == "bin") {
            m_lex.skipBytes(t.hasParam ? t.param : 0);
            return;
        }
        if (isSkippedDestination(w)) {
            st.skip = true;
            return;
        }
        if (w == "ansicpg" && t.hasParam && t.param > 0) {
            m_defaultCp = static_cast<int>(t.param);
            st.codePage = m_defaultCp;
        } else if (w == "ansi") {
            st.codePage = m_defaultCp = 1252;
        } else if (w == "mac") {
            st.codePage = m_defaultCp = 10000;
        } else if (w == "pc") {
            st.codePage = m_defaultCp = 437;
        } else if (w == "pca") {
            st.codePage = m_defaultCp = 850;
        } else if (w == "f" && t.hasParam) {
            const auto it = m_fontCodePage.find(t.param);
            st.codePage = it != m_fontCodePage.end() ? it->second : m_defaultCp;
        } else if (w == "htmlrtf") {
            st.htmlRtf = !t.hasParam || t.param != 0;
        } else if (w == "uc" && t.hasParam) {
            st.uc = std::max(0L, std::min(t.param, 16L));
        } else if (w == "u" && t.hasParam) {
            if (emitting(st)) {
                unicode(t.param);
            }
            m_ucSkip = st.uc;
        } else if (emitting(st)) {
            if (w == "par" || w == "line") {
                text("\r\n");
            } else if (w == "tab") {
                text("\t");
            } else if (w == "lquote") {
                text("\u2018");
            } else if (w == "rquote") {
                text("\u2019");
            } else if (w == "ldblquote") {
                text("\u201C");
            } else if (w == "rdblquote") {
                text("\u201D");
            } else if (w == "bullet") {
                text("\u2022");
            } else if (w == "endash") {
                text("\u2013");
            } else if (w == "emdash") {
                text("\u2014");
            } else if (w == "emspace" || w == "enspace" || w == "qmspace") {
                text(" ");
            }
        }
    }

    void symbol(GroupState& st, char c) {
        if (c == '*') {
            st.starPending = true;
            return;
        }
        st.starPending = false;
        if (!emitting(st)) {
            return;
        }
        switch (c) {
        case '\\':
        case '{':
        case '}':
            bytes(st, c);
            break;
        case '~':
            text("\u00A0");
            break;
        case '_':
            text("\u2011");
            break;
        case '\r':
        case '\n':
            text("\r\n");
            break;
        default:
            break; // \- optional hyphen, \: index entries and the like: nothing to show
        }
    }

    Lexer m_lex;
    std::string m_out;
    std::string m_pending;
    int m_pendingCp = kDefaultCodePage;
    int m_defaultCp = kDefaultCodePage;
    long m_font = -1;
    long m_ucSkip = 0;
    char32_t m_highSurrogate = 0;
    std::map<long, int> m_fontCodePage;
};

} // namespace

std::string CodePageBytesToUtf8(std::string_view bytes, int codePage) {
    if (codePage == 1252 || codePage == 1251 || codePage <= 0) {
        return CodePageToUtf8(bytes, codePage == 1251 ? 1251 : 1252);
    }
    bool ascii = true;
    for (const char c : bytes) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii || codePage == 65001) {
        if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) {
            return std::string(bytes);
        }
        return CodePageToUtf8(bytes, 1252);
    }
    const std::string charset = codePage == 10000 ? "MACINTOSH" : "CP" + std::to_string(codePage);
    gsize written = 0;
    gchar* converted =
        g_convert_with_fallback(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8",
                                charset.c_str(), "?", nullptr, &written, nullptr);
    if (converted == nullptr) {
        return CodePageToUtf8(bytes, 1252);
    }
    std::string out(converted, written);
    g_free(converted);
    return out;
}

RtfContent DetectRtfContent(std::string_view rtf) {
    Lexer lex(rtf);
    Token t = lex.next();
    if (t.kind != Token::Open) {
        return RtfContent::Rtf;
    }
    t = lex.next();
    if (t.kind != Token::Word || t.word != "rtf") {
        return RtfContent::Rtf;
    }
    for (int i = 0; i < kOpeningTokens; ++i) {
        t = lex.next();
        if (t.kind == Token::End || t.kind == Token::Text || t.kind == Token::Hex) {
            return RtfContent::Rtf;
        }
        if (t.kind == Token::Word) {
            if (t.word == "fromhtml" && t.hasParam && t.param == 1) {
                return RtfContent::Html;
            }
            if (t.word == "fromtext") {
                return RtfContent::Text;
            }
            if (t.word == "fonttbl") {
                return RtfContent::Rtf;
            }
        }
    }
    return RtfContent::Rtf;
}

RtfText DeEncapsulateRtf(std::string_view rtf) {
    RtfText out;
    out.content = DetectRtfContent(rtf);
    if (out.content != RtfContent::Rtf) {
        out.text = Decoder(rtf).run();
    }
    return out;
}

std::string RtfVisibleText(std::string_view rtf) {
    return Decoder(rtf).run();
}

} // namespace edb::conv
