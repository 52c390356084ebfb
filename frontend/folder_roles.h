#pragma once
// Which of a mailbox's well-known folders a folder is, by its name and kind: the folder icon,
// the To/From column, the sender of Sent Items and the Inbox all ask here, so a folder stored as
// "sent items" is one thing everywhere. Names compare without regard to ASCII letter case.
#include <cstdint>
#include <string_view>

namespace edb {

enum class FolderRole : std::uint8_t {
    Other,
    Calendar, // also any folder of appointments
    Contacts, // also any folder of contacts
    DeletedItems,
    Drafts,
    Inbox,
    Journal,
    JunkEmail,
    Notes,
    Outbox,
    SentItems,
    Tasks,
    SyncIssues,
};

[[nodiscard]] FolderRole FolderRoleOf(std::string_view name, char kind);

// The folder whose messages store the recipient where others store the sender.
[[nodiscard]] bool IsSentItems(std::string_view name);

} // namespace edb
