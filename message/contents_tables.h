#pragma once
// Contents tables of folders and the message entries read from their pages.
#include <cstdint>
#include <string>

#include "store/bytes.h"
#include "store/catalog.h"

namespace edb {

// "1-1B24" for 01 00 00 00 00 00 1B 24; empty when b0 and b1 are both 0.
[[nodiscard]] std::string ContentsTableName(const FolderId& id);

// Owner-2 page: matches catalog rows of contents tables to folders without a table yet.
bool FindFolderTables(StoreCatalog& catalog, const ByteView& page);

// Fills `working` with the table's page positions (512-byte units); returns the result of the
// last insertion.
bool CollectTablePages(StoreCatalog& catalog, std::uint32_t objectId, std::uint64_t rootPosition,
                       OffsetList& working);

// One page of a contents table: adds its message entries.
bool ReadMessageEntries(StoreCatalog& catalog, const ByteView& page);

} // namespace edb
