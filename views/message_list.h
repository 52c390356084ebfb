#pragma once
// What a message list shows: its columns (heading, width, how the column sorts) and one row per
// message with what each cell sorts by. A pure function of the catalog, shared by the windows'
// listing workers, Find and the command line.
#include "catalog/catalog.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edb::views {

// The two column sets a message list has: contact folders show contact fields.
enum class ListLayout : std::uint8_t { Messages, Contacts };

// How a column sorts: the row number as a number, dates by their time, the rest by text.
enum class SortBy : std::uint8_t { Number, Time, Text };

struct ListColumn {
    std::string heading;
    int width = 0; // pixels at 96 dpi
    SortBy sort = SortBy::Text;
    bool operator==(const ListColumn&) const = default;
};

// What a row stands for; the CLI words it, the windows may draw it.
enum class RowKind : std::uint8_t { Mail, MailWithAttachments, Appointment, Contact };

struct ListRow {
    RowKind kind = RowKind::Mail;
    std::vector<std::string> cells; // cell 0 is the row number, from 1
    std::uint64_t number = 0;       // the row number
    std::uint64_t filetime = 0;     // what the date cell shows
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

// Columns for a folder: by layout, and "To" instead of "From" for the Sent Items folder.
[[nodiscard]] std::vector<ListColumn> ListColumnsFor(const FolderNode& folder);
// The message list before any folder is listed.
[[nodiscard]] std::vector<ListColumn> InitialMessageColumns();
// The mailbox list's one column.
[[nodiscard]] std::vector<ListColumn> MailboxListColumns();
// Find's results: mailbox, folder, sender, subject, date.
[[nodiscard]] std::vector<ListColumn> FindResultColumns();
// The widest text a date cell shows, for fitting a date column to the font in use.
inline constexpr const char* kWidestDateText = "Wed 28/12/2024 12:59:59 PM";

[[nodiscard]] RowKind RowKindOf(const MessageEntry& m);
// The row's image index (0 appointment, 1 contact, 16 with attachments, 12 otherwise), as
// `edb2eml rows --json` prints it.
[[nodiscard]] int RowImageIndex(RowKind kind);
// "mail", "mail, attached files", "appointment", "contact".
[[nodiscard]] const char* RowKindText(RowKind kind);

// What cell `column` of `row` sorts by under `columns`: the number, the time (only where the
// row has the cell), or nothing (then its text).
[[nodiscard]] std::optional<std::uint64_t> SortKey(const ListRow& row,
                                                   const std::vector<ListColumn>& columns,
                                                   std::size_t column);
// Sort keys of every cell of a row, for front ends that keep them beside the text.
[[nodiscard]] std::vector<std::optional<std::uint64_t>>
SortKeys(const ListRow& row, const std::vector<ListColumn>& columns);
// Whether `a` goes before `b` when sorted ascending: cells with a key sort by it, a cell without
// one before a cell with one, the rest by their texts as FoldCase gives them (folded once, by the
// caller, not at every comparison).
[[nodiscard]] bool CellLess(const std::optional<std::uint64_t>& aKey, std::string_view aFolded,
                            const std::optional<std::uint64_t>& bKey, std::string_view bFolded);

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

} // namespace edb::views
