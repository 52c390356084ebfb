#pragma once
// Header values built from store text. Nothing from the store reaches a header unescaped:
// control and bidi characters are replaced, non-ASCII text and text that a reader would take
// for an encoded word goes out encoded (RFC 2047 words in UTF-8 for phrases and unstructured
// text, RFC 2231 UTF-8 parameters for file names). Values come back folded with "\n " between
// lines and without the header name, as the MIME writer takes a raw value.
#include "charset/header_chars.h"
#include "mime/sender_address.h"

#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

// Valid UTF-8 with C0, C1, DEL and bidi controls replaced (CR LF as one); kept in header_chars
// since the sender-text reader cleans with it too.
using header::CleanHeaderText;

// An attachment name as written in the part headers (controls replaced by '_').
[[nodiscard]] std::string CleanAttachmentName(std::string_view name);

// RFC 2047 words in UTF-8, each at most 75 characters and whole characters. B words, of which
// every one but the last encodes a multiple of three bytes, so no '=' padding comes before the
// last word (readers that stop at padding show the whole text); a Q word where no such cut
// exists.
// `firstLineUsed`: characters before the first word on its line ("Subject: " is 9); each line
// then stays within 76 characters.
[[nodiscard]] std::vector<std::string> EncodeWords(std::string_view utf8,
                                                   std::size_t firstLineUsed = 1);

// Unstructured value (Subject, notes) for header `name`: raw value with leading space.
[[nodiscard]] std::string UnstructuredValue(std::string_view name, std::string_view text);

// One mailbox for an address header (From, To).
[[nodiscard]] std::string MailboxValue(std::string_view name, const EmlAddress& mailbox);

// Content-Type or Content-Disposition value `head` ("application/pdf", "attachment") with the
// file name parameter `param` ("name", "filename"): quoted when the name is plain printable
// ASCII without "=?", '"', '\' and ';'. Content-Disposition has RFC 2231 UTF-8 `filename*`
// (continued when long) alone for any other name: one filename parameter, never two forms.
// Content-Type's `name` is quoted with '"' and '\' escaped for other ASCII names, holds RFC 2047
// words in quotes for other names, as desktop clients write them, or RFC 2231 `name*` when
// the name holds "=?", '"' or '\' (which readers would decode or unescape a second time).
[[nodiscard]] std::string ValueWithNameParam(std::string_view name, std::string_view head,
                                             std::string_view param, std::string_view fileName);

} // namespace edb::conv
