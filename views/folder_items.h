#pragma once
// What a folder tree item shows: its text, its icon and its tick state. Both windows and
// `edb2eml tree` read it here; the tick state is the session's.
#include "catalog/tree_build.h"
#include "frontend/folder_roles.h"
#include "session/session.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace edb::views {

// The icon an item shows. Mailbox roots and folders of no well-known kind share one picture.
enum class FolderIcon : std::uint8_t {
    Mailbox,
    Folder,
    Calendar,
    Contacts,
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

// Pictures in the tree's image list (the windows load them in this order); some are unused.
inline constexpr std::size_t kFolderImageCount = 18;

[[nodiscard]] FolderIcon IconOf(FolderRole role);
// The icon of a tree item as a build inserts it: a root (folder kNoFolder) is a mailbox.
[[nodiscard]] FolderIcon TreeItemIcon(std::string_view text, char kind, std::size_t folder);
// The item's picture in the image list; the number `edb2eml tree --json` prints as "image".
[[nodiscard]] int FolderImageIndex(FolderIcon icon);

struct FolderItem {
    std::string text;
    FolderIcon icon = FolderIcon::Folder;
    bool ticked = false;
    bool marked = false;    // shown bold: ticked, or something ticked below it
    bool converted = false; // converted earlier in this run (shown in italics)
};

// The item `item` of the window's tree as it shows now.
[[nodiscard]] FolderItem FolderItemOf(const session::Session& s, session::ItemId item,
                                      std::string text, FolderIcon icon);

// Tooltip of a converted folder.
inline constexpr const char* kConvertedTip = "Converted in this run";

} // namespace edb::views
