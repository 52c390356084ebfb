// The first pass's read-ahead: blocks arrive in file order with the file's bytes, a failure of
// the reading thread's work reaches the consumer at its own block after every block before it,
// and a consumer that stops early never leaves the reader hanging; the same for the later
// stages' page read-ahead. (What the disk fails to give back is io's business: zeros and a
// noted range, tested with the store file.)
// Labelled for ThreadSanitizer.
#include "io/read_ahead.h"
#include "tests/support/store_builder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

using namespace edb;
using namespace edbtest;

namespace {

constexpr std::size_t kBlock = 3 * kPageSize;

struct PatternFile {
    TempFile file;
    std::vector<std::uint8_t> bytes;
    CFile64 f;
    explicit PatternFile(std::size_t size) : bytes(size) {
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<std::uint8_t>((i * 131 + i / 4096) & 0xFF);
        }
        std::ofstream out(file.path(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        EXPECT_TRUE(f.Open(file.str()));
    }
};

// Reads every block and checks it against the file; returns the bases seen.
std::vector<std::uint64_t> readAll(BlockReadAhead& reader, const std::vector<std::uint8_t>& want,
                                   std::uint64_t size) {
    std::vector<std::uint64_t> bases;
    BlockReadAhead::Block b;
    while (reader.next(b)) {
        bases.push_back(b.base);
        EXPECT_EQ(b.want, std::min<std::uint64_t>(kBlock, size - b.base));
        for (std::size_t i = 0; i < b.want; ++i) {
            const std::uint8_t expected = b.base + i < want.size() ? want[b.base + i] : 0;
            if (b.bytes[i] != expected) {
                ADD_FAILURE() << "byte " << b.base + i;
                return bases;
            }
        }
    }
    return bases;
}

TEST(BlockReadAhead, BlocksInFileOrderWithShortLastBlock) {
    // 10 pages and a bit: four full blocks of three pages would be 12; the last one is short.
    const std::size_t size = 10 * kPageSize + 100;
    PatternFile p(size);
    for (const std::size_t slots : {2, 3, 5}) {
        BlockReadAhead reader(p.f, size, kBlock, slots);
        const auto bases = readAll(reader, p.bytes, size);
        EXPECT_EQ(bases, (std::vector<std::uint64_t>{0, kBlock, 2 * kBlock, 3 * kBlock}));
        BlockReadAhead::Block b;
        EXPECT_FALSE(reader.next(b)); // stays at the end
    }
}

TEST(BlockReadAhead, EmptyAndShrunkFiles) {
    PatternFile p(5 * kPageSize);
    {
        BlockReadAhead reader(p.f, 0, kBlock);
        BlockReadAhead::Block b;
        EXPECT_FALSE(reader.next(b));
    }
#ifdef _WIN32
    GTEST_SKIP() << "opened without sharing, the store cannot lose its tail on Windows";
#endif
    // The size was taken before the file lost its tail: the missing bytes read as zeros.
    std::filesystem::resize_file(p.file.path(), 4 * kPageSize + 10);
    p.bytes.resize(4 * kPageSize + 10);
    BlockReadAhead reader(p.f, 5 * kPageSize, kBlock);
    EXPECT_EQ(readAll(reader, p.bytes, 5 * kPageSize).size(), 2u);
}

TEST(BlockReadAhead, FailedWorkReachesTheConsumerAtItsBlock) {
    const std::size_t size = 40 * kPageSize;
    PatternFile p(size);
    const std::uint64_t badBase = 4 * kBlock; // the fifth block
    struct Log {
        std::mutex mutex;
        std::vector<std::uint64_t> reads;
    };
    auto log = std::make_shared<Log>();
    BlockReadAhead reader(p.f, size, kBlock, 2, [=](const BlockReadAhead::Block& block) {
        {
            std::lock_guard lock(log->mutex);
            log->reads.push_back(block.base);
        }
        if (block.base == badBase) {
            throw FileError(EIO, "work", "prepare failed", block.base);
        }
    });
    BlockReadAhead::Block b;
    std::vector<std::uint64_t> bases;
    try {
        while (reader.next(b)) {
            bases.push_back(b.base);
        }
        ADD_FAILURE() << "no error raised";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code(), EIO);
        EXPECT_EQ(e.offset(), 4 * kBlock);
    }
    EXPECT_THROW(reader.next(b), FileError); // asked again, the same failure rather than a wait
    EXPECT_EQ(bases, (std::vector<std::uint64_t>{0, kBlock, 2 * kBlock, 3 * kBlock}));
    // Every block up to the failed one read once; past it, at most what the slots hold.
    // The readers may still be running: copy the log under its lock.
    std::vector<std::uint64_t> reads;
    {
        std::lock_guard lock(log->mutex);
        reads = log->reads;
    }
    std::sort(reads.begin(), reads.end());
    EXPECT_EQ(std::adjacent_find(reads.begin(), reads.end()), reads.end());
    ASSERT_GE(reads.size(), 5u);
    for (std::uint64_t k = 0; k < 5; ++k) {
        EXPECT_EQ(reads[k], k * kBlock);
    }
    EXPECT_LE(reads.size(), 5u + 2u);
}

TEST(BlockReadAhead, PreparedWorkArrivesWithItsBlock) {
    // Each block's sum is taken on the reading thread and kept under its slot; the consumer
    // must find its own block's sum there, for every slot count, so no slot is reused early.
    const std::size_t size = 40 * kPageSize + 7;
    PatternFile p(size);
    for (const std::size_t slots : {2, 3, 5}) {
        struct Prepared {
            std::uint64_t base = 0;
            std::uint64_t sum = 0;
        };
        std::vector<Prepared> prepared(BlockReadAhead::SlotCount(slots));
        BlockReadAhead reader(p.f, size, kBlock, slots, [&](const BlockReadAhead::Block& b) {
            Prepared& out = prepared.at(b.slot);
            out.base = b.base;
            out.sum = 0;
            for (std::size_t i = 0; i < b.want; ++i) {
                out.sum += b.bytes[i];
            }
        });
        BlockReadAhead::Block b;
        std::size_t blocks = 0;
        while (reader.next(b)) {
            std::uint64_t sum = 0;
            for (std::size_t i = 0; i < b.want; ++i) {
                sum += p.bytes[b.base + i];
            }
            ASSERT_LT(b.slot, prepared.size());
            EXPECT_EQ(prepared[b.slot].base, b.base);
            EXPECT_EQ(prepared[b.slot].sum, sum) << "block at " << b.base;
            ++blocks;
        }
        EXPECT_EQ(blocks, (size + kBlock - 1) / kBlock);
    }
}

TEST(BlockReadAhead, ConsumerThatStopsEarlyEndsTheReader) {
    const std::size_t size = 64 * kPageSize;
    PatternFile p(size);
    for (int taken = 0; taken < 4; ++taken) {
        BlockReadAhead reader(p.f, size, kBlock, 2);
        BlockReadAhead::Block b;
        for (int i = 0; i < taken; ++i) {
            ASSERT_TRUE(reader.next(b));
            EXPECT_EQ(b.base, static_cast<std::uint64_t>(i) * kBlock);
        }
    } // destroyed with the reader waiting for a free slot, or still reading
}

} // namespace

namespace {

// The pages of a later stage: the same bytes and lengths as ReadPage, in the same order, with
// offsets repeated, out of order and past the end, across batch boundaries.
TEST(PageReadAhead, PagesAsReadPageGivesThem) {
    const std::size_t size = 9 * kPageSize + 300; // a short last page
    PatternFile p(size);
    const std::vector<std::uint64_t> offsets = {
        8 * kPageSize,  0,         9 * kPageSize,       3 * kPageSize, 3 * kPageSize, 512,
        20 * kPageSize, kPageSize, 9 * kPageSize + 299, 4 * kPageSize};
    for (const std::size_t readers : {1, 2}) {
        for (const std::size_t perBatch : {1, 3, 64}) {
            PageReadAhead pages(p.f, size, offsets, perBatch, {}, readers);
            std::vector<std::uint8_t> want(kPageSize);
            for (const std::uint64_t o : offsets) {
                const std::uint8_t* bytes = nullptr;
                std::size_t n = 0;
                ASSERT_TRUE(pages.next(bytes, n));
                ASSERT_EQ(n, ReadPage(p.f, size, o, want.data())) << o;
                EXPECT_EQ(std::memcmp(bytes, want.data(), n), 0) << o;
            }
            const std::uint8_t* bytes = nullptr;
            std::size_t n = 0;
            EXPECT_FALSE(pages.next(bytes, n));
        }
    }
    PageReadAhead none(p.f, size, {});
    const std::uint8_t* bytes = nullptr;
    std::size_t n = 0;
    EXPECT_FALSE(none.next(bytes, n));
}

TEST(PageReadAhead, FailedPageRaisedAfterThePagesBeforeIt) {
    const std::size_t size = 40 * kPageSize;
    PatternFile p(size);
    std::vector<std::uint64_t> offsets;
    for (std::uint64_t k = 0; k < 30; ++k) {
        offsets.push_back(((k * 7) % 40) * kPageSize);
    }
    const std::uint64_t bad = offsets[11];
    auto calls = std::make_shared<std::atomic<int>>(0);
    PageReadAhead pages(p.f, size, offsets, 4, [=](std::size_t i, const std::uint8_t*, std::size_t) {
        ++*calls;
        if (offsets[i] == bad) {
            throw FileError(EIO, "work", "prepare failed", bad);
        }
    });
    const std::uint8_t* bytes = nullptr;
    std::size_t n = 0;
    int delivered = 0;
    try {
        while (pages.next(bytes, n)) {
            ++delivered;
        }
        ADD_FAILURE() << "no error raised";
    } catch (const FileError& e) {
        EXPECT_EQ(e.offset(), bad);
    }
    EXPECT_THROW(pages.next(bytes, n), FileError);
    EXPECT_EQ(delivered, 11);
    EXPECT_EQ(calls->load(), 12); // each page once, none after the failed one
}

// Two readers: the pages still arrive in order with the error at its page; each page up to
// the failed one is read exactly once, and past it at most what the other batches hold.
TEST(PageReadAhead, TwoReadersRaiseTheFailedPageInItsPlace) {
    const std::size_t size = 40 * kPageSize;
    PatternFile p(size);
    std::vector<std::uint64_t> offsets;
    for (std::uint64_t k = 0; k < 40; ++k) {
        offsets.push_back(((k * 7) % 40) * kPageSize);
    }
    for (const std::size_t badIndex : {0, 5, 11, 39}) {
        const std::uint64_t bad = offsets[badIndex];
        struct Log {
            std::mutex mutex;
            std::vector<std::uint64_t> reads;
        };
        auto log = std::make_shared<Log>();
        std::vector<std::uint32_t> firstWord(offsets.size());
        PageReadAhead pages(
            p.f, size, offsets, 4,
            [&](std::size_t i, const std::uint8_t* bytes, std::size_t) {
                {
                    std::lock_guard lock(log->mutex);
                    log->reads.push_back(offsets[i]);
                }
                if (offsets[i] == bad) {
                    throw FileError(EIO, "work", "prepare failed", bad);
                }
                std::memcpy(&firstWord[i], bytes, 4);
            },
            2);
        const std::uint8_t* bytes = nullptr;
        std::size_t n = 0;
        std::size_t delivered = 0;
        try {
            while (pages.next(bytes, n)) {
                std::uint32_t w = 0;
                std::memcpy(&w, bytes, 4);
                EXPECT_EQ(w, firstWord[delivered]);
                std::vector<std::uint8_t> want(kPageSize);
                ASSERT_EQ(ReadPage(p.f, size, offsets[delivered], want.data()), n);
                EXPECT_EQ(std::memcmp(bytes, want.data(), n), 0) << delivered;
                ++delivered;
            }
            ADD_FAILURE() << "no error raised";
        } catch (const FileError& e) {
            EXPECT_EQ(e.offset(), bad);
        }
        EXPECT_EQ(delivered, badIndex);
        std::lock_guard lock(log->mutex);
        std::vector<std::uint64_t> reads = log->reads;
        std::sort(reads.begin(), reads.end());
        EXPECT_EQ(std::count(reads.begin(), reads.end(), bad), 1);
        EXPECT_EQ(std::adjacent_find(reads.begin(), reads.end()), reads.end());
        EXPECT_LE(log->reads.size(), badIndex + 1 + 3 * 4);
    }
}

// Work done beside the reading: its result for a page is there when the page is handed out, and
// a failure in it is raised at that page like a read error.
TEST(PageReadAhead, PreparedWorkArrivesWithItsPage) {
    const std::size_t size = 30 * kPageSize;
    PatternFile p(size);
    std::vector<std::uint64_t> offsets;
    for (std::uint64_t k = 0; k < 30; ++k) {
        offsets.push_back(((k * 11) % 30) * kPageSize);
    }
    std::vector<std::uint32_t> sums(offsets.size());
    auto sum = [](const std::uint8_t* bytes, std::size_t n) {
        std::uint32_t total = 0;
        for (std::size_t i = 0; i < n; ++i) {
            total += bytes[i];
        }
        return total;
    };
    {
        PageReadAhead pages(p.f, size, offsets, 4,
                            [&](std::size_t i, const std::uint8_t* bytes, std::size_t n) {
                                sums[i] = sum(bytes, n) + 1;
                            });
        const std::uint8_t* bytes = nullptr;
        std::size_t n = 0;
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            ASSERT_TRUE(pages.next(bytes, n));
            EXPECT_EQ(sums[i], sum(bytes, n) + 1) << i;
        }
    }
    PageReadAhead failing(p.f, size, offsets, 4,
                          [](std::size_t i, const std::uint8_t*, std::size_t) {
                              if (i == 9) {
                                  throw FileError(ENOSPC, "work", "prepare failed", 9);
                              }
                          });
    const std::uint8_t* bytes = nullptr;
    std::size_t n = 0;
    int delivered = 0;
    try {
        while (failing.next(bytes, n)) {
            ++delivered;
        }
        ADD_FAILURE() << "no error raised";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code(), ENOSPC);
    }
    EXPECT_EQ(delivered, 9);
}

TEST(PageReadAhead, ConsumerThatStopsEarlyEndsTheReader) {
    const std::size_t size = 64 * kPageSize;
    PatternFile p(size);
    std::vector<std::uint64_t> offsets;
    for (std::uint64_t k = 0; k < 64; ++k) {
        offsets.push_back(k * kPageSize);
    }
    for (int taken = 0; taken < 6; ++taken) {
        PageReadAhead pages(p.f, size, offsets, 2);
        const std::uint8_t* bytes = nullptr;
        std::size_t n = 0;
        for (int i = 0; i < taken; ++i) {
            ASSERT_TRUE(pages.next(bytes, n));
        }
    }
}

} // namespace
