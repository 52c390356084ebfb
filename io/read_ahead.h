#pragma once
// Reading the store a few steps ahead of its use on further threads, so that copying the file
// in and working on its pages overlap. Every read still goes through CFile64::ReadAt (what the
// disk cannot give back arrives as zeros, noted there); a failure of the work (a read of a
// closed file, a prepare step that throws) is raised to the consumer at its own place, after
// everything before it, exactly where a direct read would have raised it.
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

// The pipeline under both readers below. Units 0, 1, ... (a block, a batch of pages) are filled
// into slots by `readers` threads, reader t filling units t, t + readers, ...; the slot count
// is a multiple of the reader count, so each slot only ever holds one reader's units, in order.
// The consumer takes the units in order; a slot is refilled only once the consumer has let go
// of it. Nothing past a unit whose fill failed is filled. Without threads (the system refused
// one) units are filled on the consumer's thread when it asks for them.
class ReadAheadPipeline {
public:
    // Fills `slot` with `unit`; what it throws is handed to the consumer with that unit.
    using Fill = std::function<void(std::uint64_t unit, std::size_t slot)>;

    ReadAheadPipeline(std::uint64_t units, std::size_t readers, std::size_t slots, Fill fill);
    ~ReadAheadPipeline(); // stops the readers and waits for them
    ReadAheadPipeline(const ReadAheadPipeline&) = delete;
    ReadAheadPipeline& operator=(const ReadAheadPipeline&) = delete;

    // Lets go of the slot handed out before and hands out the slot of the next unit, with what
    // its fill threw (null when nothing); false after the last unit. Once a failed unit was
    // handed out, it is handed out again.
    bool next(std::size_t& slot, std::exception_ptr& error);

private:
    void fillSlot(std::uint64_t unit, std::size_t slot);
    void run(std::size_t reader);
    void stopReaders();

    const std::uint64_t m_units;
    const std::size_t m_readers;
    const Fill m_fill;
    std::vector<std::exception_ptr> m_errors; // per slot, written by the slot's reader
    std::vector<char> m_full;                 // per slot, under m_mutex
    std::uint64_t m_nextUse = 0;              // unit the consumer takes next
    bool m_held = false;                      // the consumer holds the slot of m_nextUse - 1
    bool m_failed = false;                    // the unit handed out last failed
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_quit = false;
    std::uint64_t m_failedUnit = UINT64_MAX; // the first unit whose fill failed
    std::vector<std::thread> m_threads;
};

// Sequential reading of [0, size) in blocks, for the first pass.
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

    // Reads [0, size) of `file` in blocks of blockBytes on two reading threads.
    BlockReadAhead(const CFile64& file, std::uint64_t size, std::size_t blockBytes,
                   std::size_t slots = 3, Prepare prepare = {});

    // How many slots a reader asked for `slots` has: Block::slot is below it.
    static std::size_t SlotCount(std::size_t slots) {
        return std::max<std::size_t>((slots + kReaders - 1) / kReaders, 1) * kReaders;
    }

    // The next block in file order, valid until the next call; false after the last one.
    // Throws the FileError of that block's read.
    bool next(Block& block);

private:
    // Two readers: one core copying from the page cache is slower than judging the pages.
    static constexpr std::size_t kReaders = 2;
    void read(std::uint64_t unit, std::size_t slot);

    const CFile64& m_file;
    const std::uint64_t m_size;
    const std::size_t m_blockBytes;
    const Prepare m_prepare;
    std::vector<std::vector<std::uint8_t>> m_bytes; // per slot
    std::vector<Block> m_blocks;                    // per slot
    ReadAheadPipeline m_pipeline;                   // last: its readers stop before the slots go
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

    // The page at the next offset (valid until the next call; n bytes as ReadPage gives them);
    // false after the last. Throws that page's FileError.
    bool next(const std::uint8_t*& bytes, std::size_t& n);

private:
    struct Batch {
        std::vector<std::uint8_t> bytes;
        std::vector<std::size_t> lengths; // per page read; a failure comes after these
    };
    static std::vector<Batch> makeBatches(std::size_t count, std::size_t perBatch);
    void read(std::uint64_t unit, std::size_t slot);

    const CFile64& m_file;
    const std::uint64_t m_storeSize;
    const std::vector<std::uint64_t> m_offsets;
    const std::size_t m_perBatch;
    const Prepare m_prepare;
    std::vector<Batch> m_batches; // two per reader
    std::size_t m_slot = 0;       // the batch held
    std::size_t m_inBatch = 0;    // next page within it
    std::exception_ptr m_error;   // raised after its pages
    bool m_held = false;
    ReadAheadPipeline m_pipeline; // last: its readers stop before the batches go
};

} // namespace edb
