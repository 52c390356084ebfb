#include "message/contents_tables.h"
namespace edb {
std::string ContentsTableName(const FolderId&) { return {}; }
bool FindFolderTables(StoreCatalog&, const ByteView&) { return false; }
bool CollectTablePages(StoreCatalog&, std::uint32_t, std::uint64_t, OffsetList&) { return false; }
bool ReadMessageEntries(StoreCatalog&, const ByteView&) { return false; }
} // namespace edb
