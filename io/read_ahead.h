#pragma once
// Sequential reading of the store in blocks on two further threads, a few blocks ahead of the
// page judging, so that copying the file in and judging its pages overlap. Every read still goes
// through CFile64::ReadAt; a read that fails is raised to the consumer when it reaches that
// block, after all blocks before it, exactly where a direct read would have raised it.
#include "io/file64.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace edb {

class BlockReadAhead {
public:
    struct Block {
        std::uint64_t base = 0; // file offset of the first byte
        std::size_t want = 0;   // bytes asked for: the block size, less at the end of the file
        std::uint8_t* bytes = nullptr; // want bytes; those the read did not return are zero
        std::size_t slot = 0;          // which slot holds it: the key of prepared work
    };
    // Work done on the reading thread right after a block was read, before the consumer gets
    // it; it may only touch what belongs to block.slot (two readers run it at once), and the
    // consumer may take that once next() has handed the block out.
    using Prepare = std::function<void(const Block& block)>;

    // Reads [0, size) of `file` in blocks of blockBytes. Without a second thread (the system
    // refused one) the blocks are read on the caller's thread instead.
    BlockReadAhead(const CFile64& file, std::uint64_t size, std::size_t blockBytes,
                   std::size_t slots = 3, Prepare prepare = {});

    // How many slots a reader asked for `slots` has: Block::slot is below it.
    static std::size_t SlotCount(std::size_t slots) {
        return std::max<std::size_t>((slots + kReaders - 1) / kReaders, 1) * kReaders;
    }
    ~BlockReadAhead(); // stops the reader and waits for it
    BlockReadAhead(const BlockReadAhead&) = delete;
    BlockReadAhead& operator=(const BlockReadAhead&) = delete;

    // The next block in file order, valid until the next call; false after the last one.
    // Throws the FileError of that block's read.
    bool next(Block& block);

private:
    struct Slot {
        std::vector<std::uint8_t> bytes;
        Block block;
        std::exception_ptr error;
        bool full = false;
    };
    // Two readers: one core copying from the page cache is slower than judging the pages.
    static constexpr std::size_t kReaders = 2;
    void readInto(Slot& slot, std::uint64_t base) const;
    void run(std::size_t reader);
    void stopReaders();

    const CFile64& m_file;
    const std::uint64_t m_size;
    const std::size_t m_blockBytes;
    const Prepare m_prepare;
    std::vector<Slot> m_slots;
    std::uint64_t m_nextUse = 0; // block index the consumer takes next
    bool m_held = false;         // the consumer holds slot m_nextUse - 1
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_quit = false;
    std::uint64_t m_failedBlock = UINT64_MAX; // the first block whose read failed
    std::vector<std::thread> m_threads;
};

// The pages at a list of offsets, each read with ReadPage exactly as a direct walk would read
// it, once, and handed out in list order, a few batches ahead of their use. A walk whose own
// work reads the store too makes those reads after the pages ahead. With two readers, reader t
// reads batches t, t + 2, ...: per-page reading cost (a call and a page-cache lookup each)
// bounds these walks.
class PageReadAhead {
public:
    // Work done on the reading thread right after page `index` (its place in `offsets`) was
    // read; it must touch nothing the consumer changes, nor anything another page's work
    // touches (two readers run it at once). What it leaves for page `index` may be taken by the
    // consumer once next() has handed that page out.
    using Prepare =
        std::function<void(std::size_t index, const std::uint8_t* bytes, std::size_t n)>;

    PageReadAhead(const CFile64& file, std::uint64_t storeSize, std::vector<std::uint64_t> offsets,
                  std::size_t pagesPerBatch = 64, Prepare prepare = {}, std::size_t readers = 1);
    ~PageReadAhead();
    PageReadAhead(const PageReadAhead&) = delete;
    PageReadAhead& operator=(const PageReadAhead&) = delete;

    // The page at the next offset (valid until the next call; n bytes as ReadPage gives them);
    // false after the last. Throws that page's FileError.
    bool next(const std::uint8_t*& bytes, std::size_t& n);

private:
    struct Batch {
        std::vector<std::uint8_t> bytes;
        std::vector<std::size_t> lengths; // per page read
        std::exception_ptr error;         // raised after the pages in `lengths`
        bool full = false;
    };
    void fill(Batch& batch, std::size_t first) const;
    void run(std::size_t reader);
    void stopReaders();
    Batch& batchFor(std::size_t index) { return m_batches[index % m_batches.size()]; }

    const CFile64& m_file;
    const std::uint64_t m_storeSize;
    const std::vector<std::uint64_t> m_offsets;
    const std::size_t m_perBatch;
    const Prepare m_prepare;
    const std::size_t m_readers;
    std::vector<Batch> m_batches; // two per reader, so each only ever holds one reader's batches
    std::size_t m_nextBatch = 0;  // batch index the consumer takes next
    std::size_t m_inBatch = 0;    // next page within the held batch
    bool m_held = false;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_quit = false;
    std::size_t m_failedBatch = SIZE_MAX; // the first batch whose reading failed
    std::vector<std::thread> m_threads;
};

} // namespace edb
