#pragma once
// The stages after folder discovery: hand-overs to the message decoder in their fixed order,
// then the long-value stage.
#include "store/scan.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace edb {

// `inKeyStage` is set while the long-value key list is being built (its out-of-memory text
// differs).
void RunLateStages(ScanContext& ctx, bool& inKeyStage);

// Long-value stage pieces, exposed for tests.
[[nodiscard]] bool IsLongValueChunkPage(const ByteView& page, std::uint32_t longValueOwner);
// The chunk-page test without the owner: at least 64 bytes and a chunk offset at 44 or 60.
[[nodiscard]] bool HasChunkPageShape(const ByteView& page);

// Pages of chunk-page shape, noted by the first pass with their owner numbers (the long-value
// owner is known only after the attachment stage), so that the long-value stage need not read
// the whole store again. Kept on disk in a temporary file, 12 bytes a page, removed with the
// object.
class ChunkPageCandidates {
public:
    ChunkPageCandidates();
    ~ChunkPageCandidates();
    ChunkPageCandidates(const ChunkPageCandidates&) = delete;
    ChunkPageCandidates& operator=(const ChunkPageCandidates&) = delete;

    [[nodiscard]] bool ok() const { return m_file != nullptr && !m_failed; }
    void note(std::uint64_t offset, std::uint32_t owner);
    // Rewinds for reading; false when the list cannot be read back.
    bool rewind();
    bool next(std::uint64_t& offset, std::uint32_t& owner);

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
    bool m_failed = false;
};
// Chunk-record positions of one chunk page: 42, 58, then after 03 00 05 sequences; at most 50.
[[nodiscard]] std::vector<std::int64_t> ChunkRecordPositions(const ByteView& page);
// Matches the key list against one chunk page at `offset`.
void MatchChunkPage(LongValueKeyList& keys, const ByteView& page, std::uint64_t offset);
void RunLongValueStage(ScanContext& ctx, bool& inKeyStage);

} // namespace edb
