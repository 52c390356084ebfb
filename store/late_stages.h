#pragma once
// The stages after folder discovery: hand-overs to the message decoder in their fixed order,
// then the long-value stage.
#include <cstdint>
#include <vector>

#include "store/scan.h"

namespace edb {

// `inKeyStage` is set while the long-value key list is being built (its out-of-memory text
// differs).
void RunLateStages(ScanContext& ctx, bool& inKeyStage);

// Long-value stage pieces, exposed for tests.
[[nodiscard]] bool IsLongValueChunkPage(const ByteView& page, std::uint32_t longValueOwner);
// Chunk-record positions of one chunk page: 42, 58, then after 03 00 05 sequences; at most 50.
[[nodiscard]] std::vector<std::int64_t> ChunkRecordPositions(const ByteView& page);
// Matches the key list against one chunk page at `offset`.
void MatchChunkPage(LongValueKeyList& keys, const ByteView& page, std::uint64_t offset);
void RunLongValueStage(ScanContext& ctx, bool& inKeyStage);

} // namespace edb
