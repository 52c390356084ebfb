#pragma once
// The store catalog: what the scan found, kept for the whole run.
#include "catalog/lists.h"
#include "catalog/message_entry.h"
#include "io/file64.h"

#include <array>
#include <cstdint>

namespace edb {

struct StoreCatalog {
    CFile64 storeFile;
    std::uint64_t storeSize = 0;
    PageList pageList;
    std::int32_t recordedPageCount = 0;
    FolderList folderList;
    FolderList mailboxList;
    std::array<std::uint8_t, 2> n1013Code{0, 0};
    std::uint32_t longValueOwner = 0;
    LongValueKeyList longValueKeys;

    MessageList messages;
    FolderTableList folderTables;
};

} // namespace edb
