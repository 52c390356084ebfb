// RTF to the HTML or text it carries, or to the text a reader sees: which groups hold text,
// what the control words mean, and Unicode escapes.
#include "rtf/rtf_text.h"

#include "rtf/rtf_code_pages.h"
#include "rtf/rtf_lexer.h"
#include "io/text.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

namespace edb::conv {
namespace {

constexpr int kDefaultCodePage = 1252;
constexpr std::size_t kMaxDepth = 4096;
constexpr int kOpeningTokens = 10;

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
        for (RtfToken t = m_lex.next(); t.kind != RtfToken::End; t = m_lex.next()) {
            if (t.kind == RtfToken::Open || t.kind == RtfToken::Close) {
                m_ucSkip = 0;
            } else if (m_ucSkip > 0) {
                --m_ucSkip; // a fallback representation of the \uN just read
                continue;
            }
            switch (t.kind) {
            case RtfToken::Open:
                if (stack.size() >= kMaxDepth) {
                    ++overflow;
                    break;
                }
                stack.push_back(st);
                st.starPending = false;
                break;
            case RtfToken::Close:
                if (overflow > 0) {
                    --overflow;
                } else if (!stack.empty()) {
                    st = stack.back();
                    stack.pop_back();
                }
                break;
            case RtfToken::Word:
                word(st, t);
                break;
            case RtfToken::Symbol:
                symbol(st, t.ch);
                break;
            case RtfToken::Hex:
                if (emitting(st)) {
                    bytes(st, t.ch);
                }
                break;
            case RtfToken::Text:
                st.starPending = false;
                if (st.fontTable) {
                    break;
                }
                if (emitting(st)) {
                    bytes(st, t.ch);
                }
                break;
            case RtfToken::End:
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
            m_out += RtfBytesToUtf8(m_pending, m_pendingCp);
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
                m_out += RtfBytesToUtf8(m_pending, m_pendingCp);
                m_pending.clear();
            }
            edb::AppendUtf8(m_out, cp);
            return;
        }
        flush();
        edb::AppendUtf8(m_out, unit);
    }

    void word(GroupState& st, const RtfToken& t) {
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
                m_fontCodePage[m_font] = CodePageForCharset(t.param, m_defaultCp);
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

    RtfLexer m_lex;
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

RtfContent DetectRtfContent(std::string_view rtf) {
    RtfLexer lex(rtf);
    RtfToken t = lex.next();
    if (t.kind != RtfToken::Open) {
        return RtfContent::Rtf;
    }
    t = lex.next();
    if (t.kind != RtfToken::Word || t.word != "rtf") {
        return RtfContent::Rtf;
    }
    for (int i = 0; i < kOpeningTokens; ++i) {
        t = lex.next();
        if (t.kind == RtfToken::End || t.kind == RtfToken::Text || t.kind == RtfToken::Hex) {
            return RtfContent::Rtf;
        }
        if (t.kind == RtfToken::Word) {
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
