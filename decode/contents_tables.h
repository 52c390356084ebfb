#pragma once
// Contents tables of folders and the message entries read from their pages.
#include "io/bytes.h"
#include "catalog/catalog.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace edb {

// "1-1B24" for 01 00 00 00 00 00 1B 24; empty when b0 and b1 are both 0.
[[nodiscard]] std::string ContentsTableName(const FolderId& id);

// Owner-2 page: matches catalog rows of contents tables to folders without a table yet.
bool FindFolderTables(StoreCatalog& catalog, const ByteView& page);

// FindFolderTables over the owner-2 pages of one scan: the folder list is indexed once by
// contents-table name, so a page costs what its rows cost rather than a visit to every folder
// still without a table. Same tables, in the same order, as calling FindFolderTables page by
// page. The folder list must not grow while the finder is in use.
class FolderTableFinder {
public:
    explicit FolderTableFinder(StoreCatalog& catalog);
    bool FindFolderTables(const ByteView& page);

private:
    struct Indexed {
        std::size_t position; // in folder-list order
        FolderNode* folder;
    };
    StoreCatalog& m_catalog;
    std::unordered_map<std::string, std::vector<Indexed>> m_byName;
};

// Fills `working` with the table's page positions (512-byte units); returns the result of the
// last insertion.
bool CollectTablePages(StoreCatalog& catalog, std::uint32_t objectId, std::uint64_t rootPosition,
                       OffsetList& working);

// One page of a contents table: adds its message entries.
bool ReadMessageEntries(StoreCatalog& catalog, const ByteView& page);

// The first half of ReadMessageEntries: the page's entries read, in page order, without touching
// the message list (so another thread may do it while the list grows). Returns the table the
// page belongs to, or null when it belongs to none; `out` is replaced.
struct DecodedMessageEntry {
    FolderId messageId{};
    std::string subject;
    std::string sender;
    std::uint64_t filetime = 0;
};
const FolderTable* DecodeMessageEntries(const StoreCatalog& catalog, const ByteView& page,
                                        std::vector<DecodedMessageEntry>& out);
// The second half: the decoded entries added to the message list, their texts taken over.
void AddDecodedMessageEntries(StoreCatalog& catalog, const FolderTable& table,
                              std::vector<DecodedMessageEntry>& entries);

} // namespace edb
