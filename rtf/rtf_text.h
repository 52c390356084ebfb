#pragma once
// RTF that carries HTML or plain text inside it (\fromhtml1, \fromtext) back to that HTML or
// text, as UTF-8. RTF that carries neither is left to the caller to keep as it is.
#include <string>
#include <string_view>

namespace edb::conv {

enum class RtfContent { Rtf, Html, Text };

struct RtfText {
    RtfContent content = RtfContent::Rtf;
    std::string text; // UTF-8 HTML or text; empty for RtfContent::Rtf
};

// Which content the RTF encapsulates, from its opening tokens.
[[nodiscard]] RtfContent DetectRtfContent(std::string_view rtf);

// De-encapsulates HTML or text; for other RTF returns RtfContent::Rtf and no text.
[[nodiscard]] RtfText DeEncapsulateRtf(std::string_view rtf);

// The text a reader of the RTF sees (groups of fonts, colours, pictures and other
// destinations left out), as UTF-8: what RTF that encapsulates nothing shows as plain text.
[[nodiscard]] std::string RtfVisibleText(std::string_view rtf);

} // namespace edb::conv
