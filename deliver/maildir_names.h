#pragma once
// Maildir++ folder names as servers read them (Dovecot's default layout, Courier): one `.A.B`
// directory per folder beside the Maildir's own cur/new/tmp, its levels in IMAP's modified
// UTF-7, never a name a server refuses or hides behind INBOX, and short enough to be made.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

// Longest level in a directory name, in bytes of modified UTF-7, so that a deep folder still
// has room for its ancestors' names.
constexpr std::size_t kMaildirLevelBytes = 100;

// True for a store folder name that servers take as INBOX: "inbox" in any case.
[[nodiscard]] bool IsInboxName(std::string_view name);

// One level of a folder name as a server accepts it, from the store's UTF-8 name: no level
// separator ('.', '/'), no leading '~', no wildcard or control character, never empty. At the
// top level (`top`), a name that reads as INBOX belongs to a folder other than the mailbox's
// own Inbox and gets a '_' after it, so that it is neither hidden nor merged.
[[nodiscard]] std::string MaildirLevelName(std::string_view storeName, bool top);

// Bytes left for the `.A.B` directory name under `parent` (a path of `parentBytes` bytes), so
// that every message file below it stays within the longest path and file name the system
// takes; 0 when nothing useful fits.
[[nodiscard]] std::size_t MaildirNameRoom(std::size_t parentBytes);

// The `.A.B` directory name of a folder whose levels are `levels` (MaildirLevelName's, or
// "INBOX"), in modified UTF-7, within `room` bytes. A level longer than kMaildirLevelBytes is
// cut on a character boundary and ends in '_' and a hash of its whole name; a path that still
// does not fit keeps the ancestors that do and ends in the folder's own cut name with a hash of
// the whole path. The same levels always give the same name. Empty when `room` is too small.
[[nodiscard]] std::string MaildirDirectoryName(const std::vector<std::string>& levels,
                                               std::size_t room);

// The host part of a message file name: no '/', ':' or ',' (they mean something in Maildir
// names), at most 64 bytes so that the file name keeps room for the flags servers add.
[[nodiscard]] std::string MaildirHostPart(std::string_view host);

// The part of a message file name that mail readers compare to tell two messages apart: the
// name before its first ',' (a size field such as ",S=542") or ':' (the flags). Two files in
// one folder must differ there, or a reader takes them for one message and may delete one.
[[nodiscard]] std::string_view MaildirUniquePart(std::string_view fileName);

} // namespace edb::conv
