#pragma once
// Long-value chunks of bodies, and attachment records (owner-61 pages).
#include "catalog/catalog.h"
#include "io/bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edb {

// mode 1: owner-106 pages; mode 2: blocks that follow a formatted body chunk.
bool MatchLongValueChunks(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset,
                          int mode);

// Mode 2 in two halves: the chunk markers of a block (03 00 05 from byte 48 on, the whole
// marker inside the block, at most 50, in order), each with where its value starts and the
// value (its bytes past the block read as 0); then their crediting to the messages with those
// references. False when the block has no marker.
inline constexpr std::int64_t kFirstMarkerByte = 48;
inline constexpr std::size_t kMostChainMarkers = 50;
struct ChainMarker {
    std::int64_t at = 0; // the value's place in the block
    std::uint32_t value = 0;
};
struct ChainMarkers {
    std::array<ChainMarker, kMostChainMarkers> items{};
    std::size_t count = 0;
};
void FindChainMarkers(const ByteView& block, ChainMarkers& out);
bool CreditChainMarkers(StoreCatalog& catalog, const ChainMarkers& found,
                        std::uint64_t blockOffset);

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
