#pragma once
// Folder tree building, shared by the window's folder tree view and the command line: both give
// the build a TreeSink and receive the same items in the same order.
#include "catalog/catalog.h"
#include "io/cancel.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace edb {

// Receives the items of a build, each before its own children, children in folder-list order.
class TreeSink {
public:
    virtual ~TreeSink() = default;
    // Inserts `text` as the last child of `parent` (0: at the root position) with `image` for the
    // normal and selected state. `path` is the folder path of the item ("Mailbox\Inbox\"), given
    // so a sink can keep it (Convert records it in the saved-folders list). Returns the new
    // item; 0 when it could not be inserted, and then nothing is put below it.
    virtual TreeItem insertItem(TreeItem parent, const std::string& text, int image,
                                const std::string& path) = 0;
};

// Icon index of a folder item by its name (ASCII upper-cased) and kind; roots always use 0.
[[nodiscard]] int FolderIconIndex(std::string_view name, char kind);

// Room of a folder path, in UTF-16 code units (names are counted as the store counts them).
inline constexpr std::size_t kFolderPathRoom = 259;

// Appends `name` and "\" to `path` within kFolderPathRoom. What does not fit is cut at a
// character boundary, so a deep path stops growing instead of overflowing; returns false when
// anything was cut (the path then no longer names one folder for sure).
bool AppendPathPart(std::string& path, std::string_view name);

// The saved-folders list: (folder path, tree item) entries in insertion order. The window thread
// asks isSaved while a tree worker rewrites tree items, so every access takes the lock.
class SavedFolderList {
public:
    struct Entry {
        std::string path;
        TreeItem item = 0;
    };
    void add(std::string path, TreeItem item);
    // Sets the tree item of the first entry whose path equals `path`; false when none does.
    bool updateItem(std::string_view path, TreeItem item);
    // Saved: some entry's path begins with `rootText` (compared over rootText's length) and the
    // entry's item is `item`.
    [[nodiscard]] bool isSaved(std::string_view rootText, TreeItem item) const;
    [[nodiscard]] std::vector<Entry> entries() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

// A build inserts at most this many items: duplicated ids in a damaged store can otherwise make
// the copies of shared children grow without bound.
inline constexpr std::size_t kMaxTreeItems = 200000;

struct TreeBuildResult {
    TreeItem root = 0;                     // root item of the mailbox; 0 when nothing was built
    std::int32_t stepIndex = 0;            // the step index the build was given
    bool mailboxAtStep = false;            // a chosen-mailbox entry existed at the step index
    std::size_t items = 0;                 // items inserted, root included
    bool pathCut = false;                  // some folder path did not fit its room
    bool itemLimitReached = false;         // kMaxTreeItems stopped the build
    StopReason stopped = StopReason::None; // why a cancelled build ended early
};

// The chosen-mailbox entry a build at `stepIndex` uses: the first for 1 or less, else entry
// stepIndex - 1; null when the list is shorter.
[[nodiscard]] const FolderNode* ChosenMailboxAt(const StoreCatalog& catalog,
                                                std::int32_t stepIndex);

// Next, before its tree worker starts: adds mailbox-list entry `selectionMark` (0-based; a
// negative mark adds nothing) to the chosen-mailbox list (kind 0, a duplicate refused silently)
// and raises the step index. False when the chosen-mailbox list is still empty ("Please Select
// Any Mailbox"). Window thread only: it is the one writer of the chosen-mailbox list.
bool ChooseMailbox(StoreCatalog& catalog, std::int32_t selectionMark, std::int32_t& stepIndex);

// The tree worker's build: the mailbox at `stepIndex` as a root with its folders beneath it,
// treeItem written into the chosen-mailbox entry and every folder shown, saved-folders entries
// (when given) pointed at the new items. A node already on the current path is skipped, so a
// cycle of parent ids ends. The folder list may grow meanwhile (folders appended after the walk
// passed their parent are not shown). Clearing treeItems before a rebuild is the caller's.
// `cancel` (may be null) is looked at before each item; a cancelled build ends there.
TreeBuildResult BuildFolderTree(StoreCatalog& catalog, std::int32_t stepIndex, TreeSink& sink,
                                SavedFolderList* saved = nullptr,
                                const CancelToken* cancel = nullptr);

// Sets treeItem to none in every folder-list entry (before Next/Back User Mailbox rebuilds).
void ClearTreeItems(StoreCatalog& catalog);

} // namespace edb
