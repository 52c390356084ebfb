#pragma once
// Long-value chunks of bodies, and attachment records (owner-61 pages).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/bytes.h"
#include "catalog/catalog.h"

namespace edb {

// mode 1: owner-106 pages; mode 2: blocks that follow a formatted body chunk.
bool MatchLongValueChunks(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset,
                          int mode);

// Mode 1 in two halves: the body reference an owner-106 page carries (kNoChunkReference when
// it has none), taken when the page is first read, and the crediting of the page at
// `pageOffset` to the message with that reference.
constexpr std::uint32_t kNoChunkReference = 0xFFFFFFFF;
[[nodiscard]] std::uint32_t ModeOneReference(const ByteView& page);
void CreditModeOneChunk(StoreCatalog& catalog, std::uint32_t reference, std::uint64_t pageOffset);

bool ReadAttachments(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset);

// ReadAttachments in two halves: the page's records decoded per distinct id (work that needs
// only the page, so it may run on a reading thread), then given to the messages that list the
// ids, which may read the store once for the long-value owner.
struct DecodedAttachment {
    bool added = false; // false: the name or size value could not be read
    std::string name;
    std::uint16_t size = 0;
    std::uint16_t reference = 0;
    std::uint64_t position = 0;
    std::uint16_t ownerPage = 0; // page number stored before a 5-byte value
};
struct AttachmentPageRecords {
    struct Id {
        FolderId id{};
        std::optional<DecodedAttachment> record; // none: no record start of the id qualified
    };
    std::vector<Id> ids; // distinct ids of the record starts, in page order
    bool any = false;    // the page has a record start at all
};
bool DecodeAttachmentPage(const ByteView& page, std::uint64_t pageOffset,
                          AttachmentPageRecords& out);
bool ApplyAttachmentPage(StoreCatalog& catalog, const AttachmentPageRecords& records);

bool AddAttachment(std::vector<AttachmentEntry>& attachments, std::string_view name,
                   std::uint16_t reference, std::uint16_t size, std::uint64_t position);

} // namespace edb
