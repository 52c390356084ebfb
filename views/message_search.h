#pragma once
// Finding messages across every mailbox the scan found, by sender, subject and date; and the
// reference that names one message on the command line. Shared by `edb2eml find`/`show` and the
// window's Find. Runs on any thread while the scan may still append.
#include "frontend/folder_paths.h"
#include "views/message_list.h"
#include "views/text_fold.h"
#include "catalog/catalog.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace edb::conv {

struct SearchQuery {
    std::string text;    // in the sender or the subject
    std::string from;    // in the sender
    std::string subject; // in the subject
    // FILETIME bounds: from `after` on, and before `before`.
    std::optional<std::uint64_t> after;
    std::optional<std::uint64_t> before;
};

struct SearchMatch {
    const MessageEntry* entry = nullptr;
    const FolderPath* folder = nullptr; // valid while the search's FolderPaths live
    std::size_t number = 0;             // the row number the folder's listing gives it
    std::string sender;
    std::string subject;
    std::uint64_t filetime = 0;
};

// Folder paths by folder id, made once per search (the first folder of an id, as the listing).
class FolderPaths {
public:
    explicit FolderPaths(const StoreCatalog& catalog) : m_catalog(catalog) {}
    // Null when no folder of the list has the id.
    [[nodiscard]] const FolderPath* find(const FolderId& id);

private:
    const StoreCatalog& m_catalog;
    std::unordered_map<std::uint64_t, std::optional<FolderPath>> m_paths;
    std::unordered_map<std::uint64_t, const FolderNode*> m_nodes;
    std::size_t m_nodesSeen = 0;
};

using views::ContainsText;

// Hands every message that matches to `onMatch` in message-list order; `onMatch` returns false
// to stop, and so does `cancel` (checked between messages). Texts match as ContainsText
// (letter case folded); empty
// fields and absent bounds match everything. Contacts and messages whose folder is not in the
// folder list are left out. Returns the number of messages looked at.
std::size_t FindMessages(const StoreCatalog& catalog, FolderPaths& paths, const SearchQuery& query,
                         const std::function<bool(SearchMatch&&)>& onMatch,
                         const std::atomic<bool>* cancel = nullptr);

// A match as Find's results show it (FindResultColumns): mailbox, folder path without its last
// backslash, sender, subject and date; `number` is its place among the results.
[[nodiscard]] views::ListRow FindResultRow(const SearchMatch& match, std::uint64_t number);

// "2024-05-03" as the FILETIME of that day's local midnight; nullopt for anything else.
[[nodiscard]] std::optional<std::uint64_t> LocalDayStart(std::string_view date);

// The folder path of the first folder with the message's folder id; an empty path (no node)
// when the folder list has none.
[[nodiscard]] FolderPath MessageFolderPath(const StoreCatalog& catalog, const MessageEntry& m);

// A message's name on the command line: its message id as 16 hex digits, followed by ".k" when
// k-1 earlier entries of the list share the id.
[[nodiscard]] std::string MessageReference(const StoreCatalog& catalog, const MessageEntry& m);
// The entry a reference names, or null.
[[nodiscard]] const MessageEntry* FindMessageByReference(const StoreCatalog& catalog,
                                                         std::string_view reference);

} // namespace edb::conv
