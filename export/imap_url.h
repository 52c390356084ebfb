#pragma once
// The IMAP upload's address (imap://USER@HOST[:PORT]/[FOLDER]) and the mailbox names sent to
// the server (IMAP's modified UTF-7).
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

struct ImapUrl {
    bool implicitTls = false; // imaps://
    std::string host;
    int port = 0;                    // 0: the scheme's default
    std::string user;                // decoded
    std::vector<std::string> prefix; // folder names under which the upload goes, decoded
};

// imap://USER@HOST[:PORT]/[PREFIX] or imaps://...; throws std::invalid_argument with the reason.
[[nodiscard]] ImapUrl ParseImapUrl(const std::string& url);

// A mailbox name in IMAP's modified UTF-7 (RFC 3501 5.1.3) from UTF-8.
[[nodiscard]] std::string EncodeMailboxName(std::string_view utf8);

} // namespace edb::conv
