#pragma once
// Long-value chunk pages: their shape, their chunk records, and matching those to the keys.
#include "catalog/lists.h"
#include "io/bytes.h"

#include <array>
#include <cstdint>
#include <vector>

namespace edb {

[[nodiscard]] bool IsLongValueChunkPage(const ByteView& page, std::uint32_t longValueOwner);
// The chunk-page test without the owner: at least 64 bytes and a chunk offset at 44 or 60.
[[nodiscard]] bool HasChunkPageShape(const ByteView& page);

// The records of a chunk page that could match a key (the first readable one of each
// reference, in position order), found without the keys; MatchChunkRecords then matches them
// exactly as MatchChunkPage matches the page.
struct ChunkPageRecords {
    static constexpr std::size_t kMost = 50;
    std::uint8_t positions = 0;  // record positions on the page, matched or not
    std::uint8_t candidates = 0; // entries used below
    bool blockedAt58 = false;    // a word at 42 blocks a match at 58
    std::array<std::uint16_t, kMost> reference{};
    std::array<std::uint16_t, kMost> position{}; // within the page
    std::array<std::uint8_t, kMost> place{};     // index among the record positions
};
void FindChunkRecords(const ByteView& page, ChunkPageRecords& out);
void MatchChunkRecords(LongValueKeyList& keys, const ChunkPageRecords& page, std::uint64_t offset);

// Chunk-record positions of one chunk page: 42, 58, then after 03 00 05 sequences; at most 50.
[[nodiscard]] std::vector<std::int64_t> ChunkRecordPositions(const ByteView& page);
// Matches the key list against one chunk page at `offset`.
void MatchChunkPage(LongValueKeyList& keys, const ByteView& page, std::uint64_t offset);

} // namespace edb
