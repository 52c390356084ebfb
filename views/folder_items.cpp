#include "views/folder_items.h"

namespace edb::views {

FolderIcon IconOf(FolderRole role) {
    switch (role) {
    case FolderRole::Other:
        return FolderIcon::Folder;
    case FolderRole::Calendar:
        return FolderIcon::Calendar;
    case FolderRole::Contacts:
        return FolderIcon::Contacts;
    case FolderRole::DeletedItems:
        return FolderIcon::DeletedItems;
    case FolderRole::Drafts:
        return FolderIcon::Drafts;
    case FolderRole::Inbox:
        return FolderIcon::Inbox;
    case FolderRole::Journal:
        return FolderIcon::Journal;
    case FolderRole::JunkEmail:
        return FolderIcon::JunkEmail;
    case FolderRole::Notes:
        return FolderIcon::Notes;
    case FolderRole::Outbox:
        return FolderIcon::Outbox;
    case FolderRole::SentItems:
        return FolderIcon::SentItems;
    case FolderRole::Tasks:
        return FolderIcon::Tasks;
    case FolderRole::SyncIssues:
        return FolderIcon::SyncIssues;
    }
    return FolderIcon::Folder;
}

FolderIcon TreeItemIcon(std::string_view text, char kind, std::size_t folder) {
    return folder == kNoFolder ? FolderIcon::Mailbox : IconOf(FolderRoleOf(text, kind));
}

int FolderImageIndex(FolderIcon icon) {
    // Image 0 for mailboxes and plain folders, 3..14 for the well-known ones.
    switch (icon) {
    case FolderIcon::Mailbox:
    case FolderIcon::Folder:
        return 0;
    default:
        return static_cast<int>(icon) - static_cast<int>(FolderIcon::Calendar) + 3;
    }
}

FolderItem FolderItemOf(const session::Session& s, session::ItemId item, std::string text,
                        FolderIcon icon) {
    FolderItem out;
    out.text = std::move(text);
    out.icon = icon;
    out.ticked = s.tree().ticked(item);
    out.marked = s.tree().marked(item);
    const std::size_t folder = s.tree().folderOf(item);
    out.converted = folder != session::kNoFolderIndex && s.isConverted(folder);
    return out;
}

} // namespace edb::views
