#pragma once
// Mailbox records (owner-21 pages) and folder records (owner-8 pages) for test stores.
#include <array>
#include <cstdint>
#include <string>

#include "tests/support/store_builder.h"

namespace edbtest {

using Id8 = std::array<std::uint8_t, 8>;

// 01 00 followed by n as six big-endian bytes: a valid mailbox or folder id.
Id8 makeId(std::uint64_t n);

// Mailbox record anchored at `a` (form 1 or 2); returns the position just past the name.
std::size_t writeMailboxRecord(Page& page, std::size_t a, int form, const Id8& id,
                               std::u16string_view name);

struct FolderRecordSpec {
    Id8 id{};
    Id8 parentId{};
    std::u16string name;
    std::u16string containerClass; // e.g. u"IPF.Note"; empty for none
};

// Folder record whose parent id stands at `a` (a >= 100); returns the position past its last
// byte. A record takes recordSize(spec) bytes starting at a - 10.
std::size_t writeFolderRecord(Page& page, std::size_t a, const FolderRecordSpec& spec);
std::size_t folderRecordSize(const FolderRecordSpec& spec);

// Packs folder records into owner-8 pages (as many per page as fit), appended to the store.
void addFolderPages(StoreBuilder& store, const std::vector<FolderRecordSpec>& folders);

} // namespace edbtest
