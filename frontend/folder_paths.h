#pragma once
// Folder paths as Convert, the viewer and the command line name folders: mailbox\\folder\\...
#include "catalog/catalog.h"

#include <string>
#include <vector>

namespace edb::conv {

struct FolderPath {
    const FolderNode* node = nullptr;
    // Names from the mailbox down to this folder; without the mailbox when the parent chain
    // does not reach one (attached is false then).
    std::vector<std::string> names;
    // As the folder tree builds it: each name followed by a backslash ("Mailbox\Inbox\").
    std::string treePath;
    bool attached = false;
};

// The folder path of one folder, walking parent ids through the folder list; a chain that loops
// or leads nowhere ends where it stops.
[[nodiscard]] FolderPath PathOf(const StoreCatalog& catalog, const FolderNode& folder);
// Every folder of the folder list, in list order, with its path.
[[nodiscard]] std::vector<FolderPath> ListFolders(const StoreCatalog& catalog);
// Each mailbox's own Inbox: its root folder that the folder tree shows as the Inbox, the one
// named exactly "Inbox" where several are (another may be called "INBOX" or "inbox"), else the
// first listed. At most one per mailbox name, in list order.
[[nodiscard]] std::vector<FolderPath> InboxFolders(const StoreCatalog& catalog);
// The folders named by `paths` (tree paths, trailing backslash optional) and everything below
// them, in `all`'s order; names that match nothing go to `unknown`.
[[nodiscard]] std::vector<FolderPath> SelectFolders(const std::vector<FolderPath>& all,
                                                    const std::vector<std::string>& paths,
                                                    std::vector<std::string>* unknown);

// Directory name used for folders whose parent chain reaches no mailbox.
inline constexpr const char* kUnattachedFolderName = "Unattached folders";

} // namespace edb::conv
