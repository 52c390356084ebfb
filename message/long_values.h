#pragma once
// Long-value chunks of bodies, and attachment records (owner-61 pages).
#include <cstdint>
#include <string_view>

#include "store/bytes.h"
#include "store/catalog.h"

namespace edb {

// mode 1: owner-106 pages; mode 2: blocks that follow a formatted body chunk.
bool MatchLongValueChunks(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset,
                          int mode);

bool ReadAttachments(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset);

bool AddAttachment(std::vector<AttachmentEntry>& attachments, std::string_view name,
                   std::uint16_t reference, std::uint16_t size, std::uint64_t position);

} // namespace edb
