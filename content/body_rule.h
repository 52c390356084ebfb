#pragma once
// Which body a reader is shown: the one place the rule lives (README, "Which body is shown",
// says the same for users).
//
// - A value is text only when it decodes as text in its stated or detected encoding: UTF-16
//   where its bytes are UTF-16 (a byte-order mark, or zero bytes on one side of the code units),
//   UTF-8 where a formatted value is valid UTF-8, else its code page. NUL and other control
//   bytes beyond a small share mean it is not text (a run of zero bytes, a zeroed hole in a
//   text, counts once); the few that a text may hold are dropped.
// - A formatted value is HTML only when it is text and holds HTML markup; compressed RTF is
//   decompressed and de-encapsulated first, and RTF that encapsulates nothing gives its text.
// - The shown text/plain is the best readable one of: the plain value, the RTF's text, the
//   HTML's visible text (a whole value before a cut one). HTML goes beside it as the text/html
//   alternative, so every message with a readable body has a non-empty text/plain part.
// - A readable body that is not shown goes along as a text attachment; a value that is not
//   readable is attached as what it is (application/octet-stream, named with its place in the
//   store), never shown as text.
// - Text attachments carry the charset they are in; when it cannot be told, they go as
//   application/octet-stream (the writer sends UTF-16 text that way too).
#include "mime/eml_writer.h"
#include "content/value_reader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

// Text that passes the rule, as UTF-8 with its control bytes removed; nothing when it does not
// (too many control bytes, nothing visible).
[[nodiscard]] std::optional<std::string> ReadableText(std::string_view utf8);

// Bytes decoded by the rule: a byte-order mark or UTF-16's zero bytes first, then UTF-8 when
// `utf8` allows it and the bytes are valid UTF-8, else code page `codePage` (1252 or 1251).
[[nodiscard]] std::optional<std::string> DecodeText(std::string_view bytes, int codePage,
                                                    bool utf8);

// Text that is real HTML (no RTF, markup of known elements), with stray control bytes removed;
// nothing when it is not.
[[nodiscard]] std::optional<std::string> RealHtml(std::string_view text);

// The charset a text attachment is in ("us-ascii", "utf-8", "utf-16", "utf-16le",
// "utf-16be"); empty when its bytes are not text in a charset that can be told.
[[nodiscard]] std::string TextCharset(const std::vector<std::uint8_t>& bytes);

// A store attachment's MIME type and charset: `guessed` (from its name and bytes) is kept,
// except that a text type gets its charset or becomes application/octet-stream.
void SetAttachmentType(EmlAttachment& a, const std::string& guessed);

// The bodies of one message as the rule gives them.
struct ChosenBodies {
    std::optional<std::string> plainText; // the shown text/plain
    std::optional<std::string> html;      // its text/html alternative
    std::optional<std::string> rtf;       // RTF that encapsulates nothing, kept as it is
    std::vector<EmlAttachment> attachments;
    std::vector<std::string> notes;      // technical, one per value not used as it stands
    std::vector<std::string> unreadable; // for people: "the plain text body holds no text ..."
};

// `plainAt` and `formattedAt` name where the values lie ("at 0x1c16", "long value 0x0401"),
// for the names of the attachments made from them.
[[nodiscard]] ChosenBodies ChooseBodies(const TextBody& plain, const FormattedBody& formatted,
                                        const std::string& plainAt, const std::string& formattedAt);

} // namespace edb::conv
