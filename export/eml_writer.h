#pragma once
// One message as an RFC 5322 / MIME document with CRLF line ends.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace edb::conv {

struct EmlAttachment {
    std::string name; // UTF-8, as the store gave it
    std::vector<std::uint8_t> bytes;
};

struct EmlInput {
    std::string sender;  // UTF-8 text as the store gave it
    std::string subject; // UTF-8
    std::uint64_t filetime = 0;
    std::optional<std::string> plainText; // UTF-8
    std::optional<std::string> html;      // UTF-8
    std::optional<std::string> rtf;       // RTF that encapsulates nothing, kept as it is
    std::vector<EmlAttachment> attachments;
    // Extra headers (names beginning "X-"), ASCII values, in order.
    std::vector<std::pair<std::string, std::string>> traceHeaders;
};

// Seconds since 1970 for a FILETIME, or nothing when it is 0 or beyond year 9999.
[[nodiscard]] std::optional<std::int64_t> FiletimeToUnix(std::uint64_t filetime);

// The whole message, CRLF line ends.
[[nodiscard]] std::string WriteEml(const EmlInput& in);

// MIME type for an attachment from its name and first bytes ("application/octet-stream" when
// nothing better is known).
[[nodiscard]] std::string GuessContentType(const std::string& name,
                                           const std::vector<std::uint8_t>& bytes);

} // namespace edb::conv
