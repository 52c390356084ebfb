#pragma once
// What the mbox and Maildir destinations share: messages kept with LF line ends, the folder's
// names below the top, and where the messages of an mbox file start.
#include "deliver/destination.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

[[noreturn]] void FailOutput(const std::string& what, const std::filesystem::path& p, int err);
// CRLF to LF, as both formats keep messages on disk; always ends with a line end.
[[nodiscard]] std::string ToLf(std::string_view eml);
// The folder's names below the top (the mailbox, or the folders that reach none).
[[nodiscard]] std::vector<std::string> NamesBelowTop(const FolderPath& f);
// The envelope sender of the "From " line: the From address when it is a plain address.
[[nodiscard]] std::string EnvelopeSender(std::string_view eml);
// Where each message of an mbox file starts.
[[nodiscard]] std::vector<std::size_t> MboxStarts(std::string_view text);

} // namespace edb::conv
