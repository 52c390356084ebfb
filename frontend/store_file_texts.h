#pragma once
// Why a file held no mailbox, in words both front ends show: an empty file, one too short for a
// page, one that is no ESE database, an ESE database of another kind or page size, or a store
// that is damaged ("Highly corrupted, Recovery not possible..."). Only the file's first page is
// read, after the scan has closed it.
#include <cstdint>
#include <string>

namespace edb {

enum class NoMailboxReason : std::uint8_t {
    Empty,
    TooShort,      // shorter than one page
    NotEse,        // no database signature, and no page of a store's kinds either
    OtherPageSize, // an ESE database whose pages are not 4096 bytes
    OtherEseKind,  // an ESE database of 4096-byte pages, but none of a store's kinds
    Damaged,       // looks like a store (signature or store pages) yet no mailbox was found
    Unreadable,    // the file could not be read again to tell
};

struct NoMailboxFacts {
    NoMailboxReason reason = NoMailboxReason::Damaged;
    std::uint64_t size = 0;
    std::uint32_t pageSize = 0; // OtherPageSize, OtherEseKind: from the database header
};

// Tells why `path` held no mailbox. `recordedPages` is how many pages of a store's kinds the
// scan recorded (the catalog's recordedPageCount): with any, the file is taken for a damaged
// store whatever its header says.
[[nodiscard]] NoMailboxFacts ExamineNoMailboxFile(const std::string& path,
                                                  std::int64_t recordedPages);
[[nodiscard]] std::string NoMailboxText(const std::string& path, const NoMailboxFacts& facts);
[[nodiscard]] std::string NoMailboxText(const std::string& path, std::int64_t recordedPages);

} // namespace edb
