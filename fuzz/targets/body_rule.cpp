// The body rule on untrusted values: the input up to its first 0xFF 0x00 0xFF is the plain
// value, the rest the formatted value; also the HTML reader and the charset test on the whole.
#include "content/body_rule.h"

#include "content/html_text.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = all.find(std::string_view("\xFF\x00\xFF", 3));
    edb::conv::TextBody plain;
    plain.found = true;
    plain.raw = std::string(all.substr(0, cut));
    plain.codePage = size % 2 == 0 ? 1252 : 1251;
    edb::conv::FormattedBody formatted;
    if (cut != std::string_view::npos) {
        formatted.raw = std::string(all.substr(cut + 3));
    }
    (void)edb::conv::ChooseBodies(plain, formatted, "at 0x1", "at 0x2");
    (void)edb::conv::HtmlVisibleText(all);
    (void)edb::conv::TextCharset(std::vector<std::uint8_t>(data, data + size));
    return 0;
}
