#pragma once
// Letter case folded for comparing texts the way a user means "the same word": the same in
// every locale, for the scripts mailbox texts are written in here — Latin (with the Latin-1
// Supplement and Latin Extended-A), Greek and Cyrillic. Everything else compares as it is.
#include <cstdint>
#include <string>
#include <string_view>

namespace edb::views {

// The lower-case partner of `c` where the table above has one (final sigma folds to sigma,
// capital I with dot above to i, long s to s); otherwise `c`.
[[nodiscard]] char32_t FoldCodePoint(char32_t c);

// `text` (UTF-8) with every character folded. Bytes that are not well-formed UTF-8 stay as
// they are, so a damaged text still matches itself.
[[nodiscard]] std::string FoldCase(std::string_view text);
// As FoldCase, into `out` (cleared first): a caller folding many texts reuses one buffer.
void FoldCaseInto(std::string_view text, std::string& out);

// Find's rule: whether `haystack` holds `needle` once both are folded; an empty needle is in
// every text. Folds the needle once for many texts.
class TextMatcher {
public:
    explicit TextMatcher(std::string_view needle) : m_needle(FoldCase(needle)) {}
    [[nodiscard]] bool empty() const { return m_needle.empty(); }
    // Not thread-safe: it folds into its own buffer.
    [[nodiscard]] bool foundIn(std::string_view haystack) const;

private:
    std::string m_needle;
    mutable std::string m_folded;
};

// One-off form of TextMatcher.
[[nodiscard]] bool ContainsText(std::string_view haystack, std::string_view needle);

} // namespace edb::views
