#pragma once
// Part bodies as they go into a message: text chosen 7bit, quoted-printable or base64 by what it
// holds, binary always base64; every line ends in CR LF.
#include <cstddef>
#include <string>
#include <string_view>

namespace edb::conv {

enum class TextEncoding { SevenBit, QuotedPrintable, Base64 };

// For text with LF line ends: base64 when it holds a NUL or when at least 17 % of its bytes are
// 8-bit (quoted-printable would nearly triple it), quoted-printable for fewer 8-bit bytes, for a
// line past 998 characters or for a line starting "From " after any number of '>' (which an
// mbox would quote and readers would show quoted), else 7bit as it stands.
[[nodiscard]] TextEncoding ChooseTextEncoding(std::string_view lfText);

// "quoted-printable" / "base64", or empty for 7bit (no Content-Transfer-Encoding header).
[[nodiscard]] std::string_view EncodingName(TextEncoding encoding);

// Appends `lfText` in `encoding` with CR LF line ends. Base64 lines hold 76 characters and the
// last ends in CR LF; quoted-printable lines stay within 76 characters with soft breaks, and none
// starts with ">From " or "From " (its first character goes as "=3E" or "=46"); 7bit text is
// copied with its LFs made CR LF.
void AppendEncoded(std::string& out, std::string_view lfText, TextEncoding encoding);

void AppendBase64Lines(std::string& out, const void* data, std::size_t size);

} // namespace edb::conv
