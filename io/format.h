#pragma once
// The store format's numbers in one place.
#include <cstddef>
#include <cstdint>

namespace edb {

// Late stages
constexpr std::int64_t kPageOwnerAt = 24;              // u32 LE: owner number (what the page holds)
constexpr std::uint32_t kOwnerCatalog = 2;             // table catalog rows
constexpr std::uint32_t kOwnerProperties = 19;         // message properties records
constexpr std::uint32_t kOwnerAttachments = 61;        // attachment records
constexpr std::uint32_t kOwnerBodyChunks = 106;        // one body chunk per page, at byte 42
constexpr std::uint32_t kOwnerLongValuesDefault = 122; // long-value pages when none is learnt
constexpr std::size_t kChunkDataMax = 4014; // data bytes per chunk; offsets are multiples
constexpr std::uint8_t kChunkMarker[] = {0x03, 0x00, 0x05}; // before a chunk record
constexpr std::size_t kChunkPageMinSize = 64;               // a shorter page is never a chunk page
constexpr std::int64_t kChunkPageFirstRecordAt = 42;        // a chunk page's first chunk record
constexpr std::int64_t kChunkPageSecondRecordAt = 58;       // and its second
constexpr std::int64_t kChunkPageMarkersFrom = 48; // further records follow markers from here
constexpr std::int64_t kChunkRecordOffsetAt = 2;   // u32 BE chunk offset, after the u16 reference
constexpr std::int64_t kChainBlockBack = 52;  // a chain's block starts this far before its chunk
constexpr std::uint64_t kTablePageUnit = 512; // a folder table's page values count these

} // namespace edb
