#pragma once
// What the message list view shows for one folder: its columns and one row per message. A pure
// function of the catalog, shared by the window's listing worker and the command line.
#include "catalog/catalog.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace edb {

// The two column sets a message list has: contact folders show contact fields.
enum class ListLayout { Messages, Contacts };

struct ListColumn {
    std::string heading;
    bool operator==(const ListColumn&) const = default;
};

struct ListRow {
    int image = 0;                  // row icon index
    std::vector<std::string> cells; // cell 0 is the row number, from 1
    std::uint64_t number = 0;       // the row number
    std::uint64_t filetime = 0;     // what the date cell shows, for sorting by date
    const MessageEntry* entry = nullptr;
};

struct MessageListing {
    bool folderFound = false; // the folder list has the entry
    const FolderNode* folder = nullptr;
    ListLayout layout = ListLayout::Messages;
    std::vector<ListColumn> columns; // empty when no folder was found
    std::vector<ListRow> rows;
};

[[nodiscard]] ListLayout ListLayoutFor(const FolderNode& folder);

// Columns for a folder: by layout, and "To" instead of "From" for exactly "Sent Items".
[[nodiscard]] std::vector<ListColumn> ListColumnsFor(const FolderNode& folder);

// Row icon: 0 appointment, 1 contact, 16 with attachments, 12 otherwise.
[[nodiscard]] int MessageRowImage(const MessageEntry& m);

// Folder-list entry `index` (as a tree build hands it out), or null (kNoFolder: none).
[[nodiscard]] const FolderNode* FolderAt(const StoreCatalog& catalog, std::size_t index);

// Produces the rows of `folder` one by one, in message-list order; `onRow` returns false to
// stop (a newer listing took over). Fields the scan may still be writing are read under the
// message list's shared lock.
void ForEachMessageRow(const StoreCatalog& catalog, const FolderNode& folder,
                       const std::function<bool(ListRow&&)>& onRow);

// The whole listing of folder-list entry `folder`.
[[nodiscard]] MessageListing ListMessages(const StoreCatalog& catalog, std::size_t folder);

// Date text of a FILETIME (UTC, 100 ns since 1601) in the process's local time zone, as
// "Fri 5/3/2004 9:10:7 AM": day name, day/month/year, 12-hour clock, no leading zeros. Empty
// when the value cannot be converted or the local year lies outside 1601..9999. The zone is
// the C library's (TZ); a test that changes TZ calls tzset itself.
[[nodiscard]] std::string ListDateText(std::uint64_t filetime);

} // namespace edb
