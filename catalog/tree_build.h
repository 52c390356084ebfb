#pragma once
// Folder tree building, shared by the window's folder tree view and the command line: both give
// the build a TreeSink and receive the same items in the same order.
#include "catalog/catalog.h"
#include "io/cancel.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace edb {

// The folder index of a tree item that shows no folder-list entry (a mailbox root).
inline constexpr std::size_t kNoFolder = SIZE_MAX;

// Receives the items of a build, each before its own children, children in folder-list order.
// The build hands out folder indices; the sink keeps which item shows which folder.
class TreeSink {
public:
    virtual ~TreeSink() = default;
    // Inserts `text` as the last child of `parent` (0: at the root position); `kind` is the
    // folder's kind (0 for the root). `path` is the folder path of the item
    // ("Mailbox\Inbox\"); `folder` the place of the folder it shows in the folder list
    // (kNoFolder for the root). Returns the new item; 0 when it could not be inserted, and then
    // nothing is put below it.
    virtual TreeItem insertItem(TreeItem parent, const std::string& text, char kind,
                                const std::string& path, std::size_t folder) = 0;
};

// Room of a folder path, in UTF-16 code units (names are counted as the store counts them).
inline constexpr std::size_t kFolderPathRoom = 259;

// Appends `name` and "\" to `path` within kFolderPathRoom. What does not fit is cut at a
// character boundary, so a deep path stops growing instead of overflowing; returns false when
// anything was cut (the path then no longer names one folder for sure).
bool AppendPathPart(std::string& path, std::string_view name);

// A build inserts at most this many items: duplicated ids in a damaged store can otherwise make
// the copies of shared children grow without bound.
inline constexpr std::size_t kMaxTreeItems = 200000;

struct TreeBuildResult {
    TreeItem root = 0;                     // root item of the mailbox; 0 when nothing was built
    std::size_t items = 0;                 // items inserted, root included
    bool pathCut = false;                  // some folder path did not fit its room
    bool itemLimitReached = false;         // kMaxTreeItems stopped the build
    StopReason stopped = StopReason::None; // why a cancelled build ended early
};

// Folder-list entry `index` (as a tree build hands it out), or null (kNoFolder: none).
[[nodiscard]] const FolderNode* FolderAt(const StoreCatalog& catalog, std::size_t index);

// Entry `row` (0-based) of the mailbox list, as the mailbox list view shows it; null past its end.
[[nodiscard]] const FolderNode* MailboxAt(const StoreCatalog& catalog, std::size_t row);

// The folder tree of `mailbox` (a mailbox-list entry): the mailbox as a root with its folders
// beneath it. A node already on the current path is skipped, so a cycle of parent ids ends. The
// folder list may grow meanwhile (folders appended after the walk passed their parent are not
// shown). `cancel` (may be null) is looked at before each item; a cancelled build ends there.
TreeBuildResult BuildFolderTree(const StoreCatalog& catalog, const FolderNode& mailbox,
                                TreeSink& sink, const CancelToken* cancel = nullptr);

} // namespace edb
