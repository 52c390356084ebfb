// The program's artwork, compiled into edbresources (artwork.qrc).
//
// Call edb::initArtwork() once before the first use of a path below (the main function and
// every test that loads artwork): the resources live in a static library, so nothing
// registers them by itself.
#pragma once

#include <QIcon>
#include <array>

namespace edb {

void initArtwork();

// Dialog backgrounds, painted at the client origin in their natural size.
inline constexpr const char* kMainBackground = ":/artwork/main-background.png";   // 718 x 633
inline constexpr const char* kAboutBackground = ":/artwork/about-background.png"; // 416 x 223

// The window icon in 16, 32, 48 and 256 pixels.
[[nodiscard]] QIcon windowIcon();

// The folder tree's image list, 16 x 16 each, in image-index order.
inline constexpr std::array<const char*, 18> kFolderIcons = {
    ":/artwork/folders/00-folder.png",         ":/artwork/folders/01-mailbox.png",
    ":/artwork/folders/02-folder-open.png",    ":/artwork/folders/03-calendar.png",
    ":/artwork/folders/04-contacts.png",       ":/artwork/folders/05-deleted-items.png",
    ":/artwork/folders/06-drafts.png",         ":/artwork/folders/07-inbox.png",
    ":/artwork/folders/08-journal.png",        ":/artwork/folders/09-junk.png",
    ":/artwork/folders/10-notes.png",          ":/artwork/folders/11-outbox.png",
    ":/artwork/folders/12-sent-items.png",     ":/artwork/folders/13-tasks.png",
    ":/artwork/folders/14-sync-issues.png",    ":/artwork/folders/15-search-folder.png",
    ":/artwork/folders/16-public-folders.png", ":/artwork/folders/17-archive.png",
};

// Image indices the folder tree uses; 1, 2 and 15 to 17 are in the list but unused.
enum FolderIconIndex : int {
    kIconFolder = 0, // plain folders and mailbox roots
    kIconCalendar = 3,
    kIconContacts = 4,
    kIconDeletedItems = 5,
    kIconDrafts = 6,
    kIconInbox = 7,
    kIconJournal = 8,
    kIconJunk = 9,
    kIconNotes = 10,
    kIconOutbox = 11,
    kIconSentItems = 12,
    kIconTasks = 13,
    kIconSyncIssues = 14,
};

} // namespace edb
