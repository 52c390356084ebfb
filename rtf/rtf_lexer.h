#pragma once
// The RTF reader's tokenizer: braces, control words with their parameters, control symbols,
// \'hh bytes and plain text bytes, one at a time. It never reads past its input.
#include <cstddef>
#include <string_view>

namespace edb::conv {

struct RtfToken {
    enum Kind { End, Open, Close, Word, Symbol, Hex, Text } kind = End;
    std::string_view word; // Word: its letters
    bool hasParam = false; // Word: a number followed it
    long param = 0;
    char ch = 0; // Symbol: the character; Hex and Text: the byte
};

class RtfLexer {
public:
    explicit RtfLexer(std::string_view s) : m_s(s) {}

    // The next token; RtfToken::End at the end of the input.
    RtfToken next();
    // Passes over the data of \binN.
    void skipBytes(long n);

private:
    void readControl(RtfToken& t);

    std::string_view m_s;
    std::size_t m_pos = 0;
};

} // namespace edb::conv
