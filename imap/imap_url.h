#pragma once
// The IMAP upload's address (imap://USER@HOST[:PORT]/[FOLDER]) and the mailbox names sent to
// the server (IMAP's modified UTF-7).
#include <cstddef>
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
// A password in the address (USER:PASSWORD@) is refused: it would end up in shell histories,
// settings files and error texts.
[[nodiscard]] ImapUrl ParseImapUrl(const std::string& url);

// The address as it may be shown in a message: a password in it left out.
[[nodiscard]] std::string ImapUrlForDisplay(const std::string& url);

// A mailbox name in IMAP's modified UTF-7 (RFC 3501 5.1.3) from UTF-8.
[[nodiscard]] std::string EncodeMailboxName(std::string_view utf8);

// A folder name whose modified UTF-7 form takes at most `maxEncoded` bytes: the name itself
// when it fits, else its start cut on a character boundary and "~" with a short hash of the
// whole name, so that long names that begin alike stay apart and every run gives the same
// result. maxEncoded below 16 is taken as 16.
[[nodiscard]] std::string ShortenMailboxName(std::string_view utf8, std::size_t maxEncoded);

} // namespace edb::conv
