// The first pass's read-ahead: blocks arrive in file order with the file's bytes, a failed read
// reaches the consumer at its own block after every block before it, and a consumer that stops
// early never leaves the reader hanging. Labelled for ThreadSanitizer.
#include "store/read_ahead.h"
#include "tests/support/store_builder.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
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
    // The size was taken before the file lost its tail: the missing bytes read as zeros.
    std::filesystem::resize_file(p.file.path(), 4 * kPageSize + 10);
    p.bytes.resize(4 * kPageSize + 10);
    BlockReadAhead reader(p.f, 5 * kPageSize, kBlock);
    EXPECT_EQ(readAll(reader, p.bytes, 5 * kPageSize).size(), 2u);
}

TEST(BlockReadAhead, FailedReadReachesTheConsumerAtItsBlock) {
    const std::size_t size = 20 * kPageSize;
    PatternFile p(size);
    const std::uint64_t badOffset = 4 * kBlock + 5; // inside the fifth block
    auto calls = std::make_shared<std::atomic<int>>(0);
    p.f.setFaultInjector([=](std::uint64_t at, std::size_t count) {
        ++*calls;
        return badOffset >= at && badOffset - at < count ? EIO : 0;
    });
    BlockReadAhead reader(p.f, size, kBlock, 2);
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
    EXPECT_EQ(bases.size(), 4u);
    // Nothing is read past the failed block, and no block twice.
    EXPECT_EQ(calls->load(), 5);
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
