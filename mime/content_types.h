#pragma once
// MIME types for attachments: from the file name's extension where it is a known one, else from
// the first bytes (signatures of common formats), else text/plain for plain ASCII text, else
// application/octet-stream.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

[[nodiscard]] std::string GuessContentType(const std::string& name,
                                           const std::vector<std::uint8_t>& bytes);

// Whether text in `charset` keeps ASCII's bytes for ASCII characters, as a text/* part must
// (line ends, quoted-printable, readers that convert line ends). UTF-16, UTF-32 and UCS-2/4 do
// not: such text goes as application/octet-stream with its bytes untouched.
[[nodiscard]] bool AsciiCompatibleCharset(std::string_view charset);

} // namespace edb::conv
