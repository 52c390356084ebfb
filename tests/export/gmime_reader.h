#pragma once
// Reads written messages back with GMime's parser, a MIME implementation this program does not
// share code with: what it decodes is what a mail client built on it would show.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace edbtest {

struct GmimePart {
    std::string type;     // "text/plain"
    std::string charset;  // content-type charset, "" when none
    std::string filename; // decoded (RFC 2231 or RFC 2047), "" when none
    std::string name;     // Content-Type's name parameter, decoded
    std::string encoding; // Content-Transfer-Encoding as written, "" when none
    std::string body;     // transfer encoding undone, bytes as sent
};

struct GmimeMessage {
    std::string from; // "Name <address>" as GMime lists it, decoded
    std::string to;
    std::string subject; // decoded
    std::optional<std::int64_t> date;
    std::string messageId;
    std::vector<std::string> multiparts; // "multipart/mixed", ... in document order
    std::vector<GmimePart> leaves;       // every non-multipart part, in document order
};

// Nothing when GMime cannot make a message of the bytes.
[[nodiscard]] std::optional<GmimeMessage> ReadWithGmime(const std::string& eml);

// Every .eml below `root` parsed; each problem found as one line naming the file: not a
// message, a multipart without parts, a text part whose charset is not UTF-8 or whose body is
// not valid UTF-8, a text part holding NUL, an attachment without a name, or a part GMime
// reads differently from how the raw file delimits it.
[[nodiscard]] std::vector<std::string> CheckTreeWithGmime(const std::filesystem::path& root);

// The messages of an mbox file as GMime's mbox parser splits them.
[[nodiscard]] std::vector<GmimeMessage> ReadMboxWithGmime(const std::filesystem::path& file);

// Every .eml below `root` that GMime reads, by decoded subject (the last one read of a subject).
[[nodiscard]] std::map<std::string, GmimeMessage>
ReadTreeWithGmime(const std::filesystem::path& root);

// Text with its CR LF line ends as LF (Python and the store's values use LF).
[[nodiscard]] std::string Lf(const std::string& text);

// The text `part` would show: the first leaf of that type, or nothing.
[[nodiscard]] const GmimePart* FirstOfType(const GmimeMessage& m, const std::string& type);

} // namespace edbtest
