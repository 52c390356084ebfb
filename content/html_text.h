#pragma once
// The text a reader of an HTML body sees, as plain text: what a message that the store keeps
// only as HTML shows in its text/plain part.
#include <string>
#include <string_view>

namespace edb::conv {

// Tags dropped, the contents of head, style, script and comments left out, entities decoded,
// white space collapsed as a browser does; block elements and <br> end lines. UTF-8 in and out.
[[nodiscard]] std::string HtmlVisibleText(std::string_view html);

} // namespace edb::conv
