#include "rtf/rtf_lexer.h"

#include <algorithm>

namespace edb::conv {
namespace {

constexpr std::size_t kMaxWordLength = 32;

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
int hexValue(char c) {
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

} // namespace

RtfToken RtfLexer::next() {
    while (m_pos < m_s.size()) {
        const char c = m_s[m_pos];
        if (c == '\r' || c == '\n') {
            ++m_pos; // line breaks in RTF source carry no meaning
            continue;
        }
        RtfToken t;
        if (c == '{') {
            ++m_pos;
            t.kind = RtfToken::Open;
        } else if (c == '}') {
            ++m_pos;
            t.kind = RtfToken::Close;
        } else if (c == '\\') {
            ++m_pos;
            readControl(t);
        } else {
            ++m_pos;
            t.kind = RtfToken::Text;
            t.ch = c;
        }
        return t;
    }
    return {};
}

void RtfLexer::skipBytes(long n) {
    if (n <= 0) {
        return;
    }
    const auto left = m_s.size() - m_pos;
    m_pos += std::min<std::size_t>(left, static_cast<std::size_t>(n));
}

void RtfLexer::readControl(RtfToken& t) {
    if (m_pos >= m_s.size()) {
        t.kind = RtfToken::End;
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
                t.kind = RtfToken::Hex;
                t.ch = static_cast<char>(hi * 16 + lo);
                return;
            }
        }
        t.kind = RtfToken::Symbol;
        t.ch = c;
        return;
    }
    const std::size_t start = m_pos;
    while (m_pos < m_s.size() && isLetter(m_s[m_pos]) && m_pos - start < kMaxWordLength) {
        ++m_pos;
    }
    t.kind = RtfToken::Word;
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

} // namespace edb::conv
