#pragma once
// The long-value stage's temporary files: chunk-page notes of the first pass and the list of
// chunk-page offsets. They are this program's own, written and read back by the same scan.
#include "io/temp_file.h"
#include "scan/chunk_pages.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace edb {

// Pages of chunk-page shape, noted by the first pass with their owner numbers (the long-value
// owner is known only after the attachment stage) and their records, so that the long-value
// stage need not read them again. Kept on disk in a temporary file, 15 bytes a page and 5 a
// record, removed with the object. A file that cannot be made throws TempFileError; one
// that cannot be written later only costs the stage a second read of those pages.
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

// The on-disk list of chunk-page offsets, 8 bytes each: a unique file created exclusively in
// the temporary directory, removed on every path out of the stage. A file that cannot be made
// (TempFileError) and a failed write are raised: without it no long value is found.
class ChunkOffsetList {
public:
    static constexpr std::uint64_t kEntryBytes = 8;
    ChunkOffsetList();
    [[nodiscard]] bool ok() const { return m_file != nullptr; }
    void append(std::uint64_t offset);
    // Flushes and rewinds; returns the size in bytes.
    std::uint64_t rewindForReading();
    bool next(std::uint64_t& offset);

private:
    PrivateTempFile m_temp;
    std::FILE* m_file;
    // Counted as written: ftell's long is 32 bits on Windows, too short for a large list.
    std::uint64_t m_bytes = 0;
};

} // namespace edb
