#pragma once
// The stages after folder discovery: hand-overs to the message decoder in their fixed order,
// then the long-value stage.
#include "scan/scan.h"
#include "io/temp_file.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
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

// Page-sized blocks at any offset (the page read rule: 4096 bytes or what is left of the file),
// served from one read of a span of up to 64 KiB when the blocks asked for lie inside it.
class BlockWindow {
public:
    BlockWindow(const CFile64& file, std::uint64_t storeSize)
        : m_file(file), m_storeSize(storeSize), m_buf(16 * kPageSize) {}
    // The block at `start` (< store size). A new read also covers, where the buffer allows,
    // the blocks likely to be asked for next: those at `back` bytes before each of `nearby`.
    [[nodiscard]] ByteView block(std::uint64_t start, std::span<const std::uint64_t> nearby,
                                 std::uint64_t back);

private:
    const CFile64& m_file;
    std::uint64_t m_storeSize;
    std::vector<std::uint8_t> m_buf;
    std::uint64_t m_start = 0;
    std::uint64_t m_size = 0;
};

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

// Pages of chunk-page shape, noted by the first pass with their owner numbers (the long-value
// owner is known only after the attachment stage) and their records, so that the long-value
// stage need not read them again. Kept on disk in a temporary file, 15 bytes a page and 5 a
// record, removed with the object.
class ChunkPageCandidates {
public:
    ChunkPageCandidates();
    ~ChunkPageCandidates();
    ChunkPageCandidates(const ChunkPageCandidates&) = delete;
    ChunkPageCandidates& operator=(const ChunkPageCandidates&) = delete;

    [[nodiscard]] bool ok() const { return m_file != nullptr && !m_failed; }
    void note(std::uint64_t offset, std::uint32_t owner, const ChunkPageRecords& records);
    // The note of one page appended to `out`, for noting later with noteEncoded; lets a
    // reading thread prepare the notes of a whole block.
    static void Encode(std::uint64_t offset, std::uint32_t owner, const ChunkPageRecords& records,
                       std::vector<std::uint8_t>& out);
    void noteEncoded(const std::vector<std::uint8_t>& notes);
    // Rewinds for reading; false when the list cannot be read back.
    bool rewind();
    bool next(std::uint64_t& offset, std::uint32_t& owner, ChunkPageRecords& records);

private:
    PrivateTempFile m_temp;
    std::FILE* m_file;
    bool m_failed = false;
    std::vector<std::uint8_t> m_scratch;
};
// Chunk-record positions of one chunk page: 42, 58, then after 03 00 05 sequences; at most 50.
[[nodiscard]] std::vector<std::int64_t> ChunkRecordPositions(const ByteView& page);
// Matches the key list against one chunk page at `offset`.
void MatchChunkPage(LongValueKeyList& keys, const ByteView& page, std::uint64_t offset);
void RunLongValueStage(ScanContext& ctx, bool& inKeyStage);

} // namespace edb
