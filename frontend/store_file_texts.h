#pragma once
// Why a file held no mailbox, in words both front ends show: an empty file, one too short for a
// page, one that is no ESE database, an ESE database of another page size, a healthy ESE
// database that is no Exchange store, or a store that is damaged ("Highly corrupted, Recovery
// not possible..."). Only the file's first page is read, after the scan has closed it.
#include "catalog/catalog.h"

#include <cstdint>
#include <string>

namespace edb {

enum class NoMailboxReason : std::uint8_t {
    Empty,
    TooShort,      // shorter than one page
    NotEse,        // no database signature, and no page of a store's kinds either
    OtherPageSize, // an ESE database whose pages are not 4096 bytes
    OtherEseKind,  // an ESE database of 4096-byte pages that is no Exchange store: its header
                   // whole (checksum, format, file type) and no store table seen, or no page of
                   // a store's kinds at all
    Damaged,       // looks like a store (store pages, a damaged header or the store's tables)
                   // yet no mailbox was found
    Unreadable,    // the file could not be read again to tell
};

struct NoMailboxFacts {
    NoMailboxReason reason = NoMailboxReason::Damaged;
    std::uint64_t size = 0;
    std::uint32_t pageSize = 0; // OtherPageSize, OtherEseKind: from the database header
};

// Tells why `path` held no mailbox. `recordedPages` is how many pages of a store's kinds the
// scan recorded (the catalog's recordedPageCount); `storeTables` whether it saw a store's own
// tables (a contents table's catalog row, the store's named-property code). Pages of a store's
// kinds turn up by chance in any ESE database (their numbers are common object ids): with a
// whole header and no store table the file is another kind of database; otherwise they make
// it a damaged store.
[[nodiscard]] NoMailboxFacts ExamineNoMailboxFile(const std::string& path,
                                                  std::int64_t recordedPages,
                                                  bool storeTables = false);
[[nodiscard]] std::string NoMailboxText(const std::string& path, const NoMailboxFacts& facts);
[[nodiscard]] std::string NoMailboxText(const std::string& path, std::int64_t recordedPages);
// From what the scan left in `catalog`.
[[nodiscard]] std::string NoMailboxText(const std::string& path, const StoreCatalog& catalog);

} // namespace edb
