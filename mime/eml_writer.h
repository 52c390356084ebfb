#pragma once
// One message as an RFC 5322 / MIME document with CRLF line ends.
#include "mime/content_types.h"
#include "mime/mime_header.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace edb::conv {

struct EmlAttachment {
    std::string name; // UTF-8, as the store gave it (cleaned when written)
    std::vector<std::uint8_t> bytes;
    std::string type;    // MIME type; guessed from name and bytes when empty
    std::string charset; // for a text type: the charset its bytes are in; empty for none
};

struct EmlInput {
    std::string sender; // UTF-8 text as the store gave it
    EmlAddress from;    // when its address is empty, made from `sender`
    std::vector<EmlAddress> to;
    std::string subject; // UTF-8
    std::uint64_t filetime = 0;
    std::string messageId;                // without angle brackets; none written when empty
    std::optional<std::string> plainText; // UTF-8, the text a client shows
    std::optional<std::string> html;      // UTF-8, real HTML only
    std::optional<std::string> rtf;       // RTF that encapsulates nothing, kept as it is
    std::vector<EmlAttachment> attachments;
    // Extra headers (names beginning "X-"), values as text (encoded when written), in order.
    std::vector<std::pair<std::string, std::string>> traceHeaders;
};

// Seconds since 1970 for a FILETIME, or nothing when the time lies before 1 Jan 1970 or after
// 31 Dec 2099: such times are placeholders, not dates (0, all ones, 1601, 9999 and the like).
[[nodiscard]] std::optional<std::int64_t> FiletimeToUnix(std::uint64_t filetime);

// The whole message, CRLF line ends.
[[nodiscard]] std::string WriteEml(const EmlInput& in);

} // namespace edb::conv
