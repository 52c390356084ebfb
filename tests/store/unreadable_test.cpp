// Reading the store from a failing disk: a read that fails is tried again in smaller pieces, so
// only the pages the disk cannot give back are lost (as zeros) and noted with the system's
// reason; runs of bad pages are one range; a healthy read stays one system call and a page
// once found bad is not asked of the disk again.
#include "io/file64.h"
#include "io/read_ahead.h"
#include "tests/faults/read_faults.h"
#include "tests/support/store_builder.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

using namespace edb;
using namespace edbtest;

namespace {

// A file whose every byte tells its place, so a zeroed or shifted page shows.
struct PatternStore {
    TempFile file;
    std::vector<std::uint8_t> bytes;
    CFile64 f;
    explicit PatternStore(std::size_t size) : bytes(size) {
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<std::uint8_t>(1 + (i * 131 + i / kPage) % 255); // never 0
        }
        std::ofstream out(file.path(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        EXPECT_TRUE(f.Open(file.str()));
    }
    ~PatternStore() { ClearReadFaults(); }
    PatternStore(const PatternStore&) = delete;
    PatternStore& operator=(const PatternStore&) = delete;

    // Every byte of `got` (read at `offset`) is the file's, or zero inside a bad range.
    void expectRead(std::uint64_t offset, const std::vector<std::uint8_t>& got,
                    const std::vector<UnreadableRange>& bad) const {
        for (std::size_t i = 0; i < got.size(); ++i) {
            const std::uint64_t at = offset + i;
            bool inBad = false;
            for (const UnreadableRange& r : bad) {
                inBad = inBad || (at >= r.offset && at < r.end());
            }
            const std::uint8_t want = inBad ? 0 : bytes[at];
            if (got[i] != want) {
                ADD_FAILURE() << "byte " << at << (inBad ? " (unreadable)" : "");
                return;
            }
        }
    }
};

UnreadableRange range(std::uint64_t page, std::uint64_t pages, int code = EIO) {
    return {page * kPage, pages * kPage, code};
}

} // namespace

TEST(UnreadableRanges, RunsMergeInAnyOrderAndDifferentReasonsStayApart) {
    UnreadableRanges r;
    EXPECT_FALSE(r.any());
    EXPECT_FALSE(r.firstWithin(0, UINT64_MAX / 2));
    r.add(5 * kPage, kPage, EIO);
    r.add(3 * kPage, kPage, EIO);
    r.add(4 * kPage, kPage, EIO); // joins both neighbours
    r.add(9 * kPage, kPage, EIO);
    r.add(10 * kPage, kPage, ENXIO); // touches, but another reason
    r.add(9 * kPage + 100, 10, EIO); // inside one already noted
    EXPECT_TRUE(r.any());
    EXPECT_EQ(r.list(), (std::vector<UnreadableRange>{range(3, 3), range(9, 1), range(10, 1, ENXIO)}));
    EXPECT_EQ(UnreadableBytes(r.list()), 5 * kPage);
    EXPECT_EQ(r.list().front().reason(), "Input/output error");

    EXPECT_EQ(r.firstWithin(0, 3 * kPage), std::nullopt); // ends where the range starts
    EXPECT_EQ(r.firstWithin(0, 3 * kPage + 1), range(3, 3));
    EXPECT_EQ(r.firstWithin(6 * kPage - 1, 1), range(3, 3));
    EXPECT_EQ(r.firstWithin(6 * kPage, 3 * kPage), std::nullopt);
    EXPECT_EQ(r.firstWithin(8 * kPage, 10 * kPage), range(9, 1));
    r.clear();
    EXPECT_FALSE(r.any());
    EXPECT_TRUE(r.list().empty());
}

TEST(FailingDisk, OnlyTheBadPagesOfALargeReadAreLost) {
    PatternStore s(300 * kPage + 100);
    // One byte of page 37, all of pages 100..102 (one range), the last, short page.
    SetReadFaults(s.file.str(), {{37 * kPage + 4000, 1}, {100 * kPage, 3 * kPage}, {300 * kPage + 50, 1}});
    std::vector<std::uint8_t> buf(s.bytes.size() + 4096, 0xEE);
    const std::size_t got = s.f.ReadAt(0, buf.data(), buf.size());
    EXPECT_EQ(got, s.bytes.size()); // the whole file, to its end
    buf.resize(got);
    const std::vector<UnreadableRange> want{range(37, 1), range(100, 3), {300 * kPage, 100, EIO}};
    EXPECT_EQ(s.f.unreadable().list(), want);
    s.expectRead(0, buf, want);
}

TEST(FailingDisk, ReadsInsideAPageAndThePageRule) {
    PatternStore s(8 * kPage);
    SetReadFaults(s.file.str(), {{5 * kPage + 1990, 20}}, ENXIO);
    // A few bytes elsewhere in the bad page: the whole page is taken as unreadable.
    std::vector<std::uint8_t> small(16, 0xEE);
    EXPECT_EQ(s.f.ReadAt(5 * kPage + 2000, small.data(), small.size()), small.size());
    EXPECT_EQ(small, std::vector<std::uint8_t>(16, 0));
    EXPECT_EQ(s.f.unreadable().list(), (std::vector<UnreadableRange>{range(5, 1, ENXIO)}));
    EXPECT_EQ(s.f.unreadable().list().front().reason(), SystemErrorText(ENXIO));
    // ReadPage gives the page's length with zeros; the pages around it are intact.
    std::vector<std::uint8_t> page(kPage, 0xEE);
    EXPECT_EQ(ReadPage(s.f, s.bytes.size(), 5 * kPage, page.data()), kPage);
    EXPECT_EQ(page, std::vector<std::uint8_t>(kPage, 0));
    EXPECT_EQ(ReadPage(s.f, s.bytes.size(), 4 * kPage, page.data()), kPage);
    s.expectRead(4 * kPage, page, {});
    // A read across the bad page's edge: the part before it is the file's.
    std::vector<std::uint8_t> edge(200);
    EXPECT_EQ(s.f.ReadAt(5 * kPage - 100, edge.data(), edge.size()), edge.size());
    s.expectRead(5 * kPage - 100, edge, s.f.unreadable().list());
}

TEST(FailingDisk, HealthyReadsAreOneCallAndBadPagesAreNotAskedAgain) {
    PatternStore s(512 * kPage);
    SetReadFaults(s.file.str(), {});
    std::vector<std::uint8_t> block(256 * kPage);
    EXPECT_EQ(s.f.ReadAt(0, block.data(), block.size()), block.size());
    EXPECT_EQ(ReadFaultCounts().reads, 1u);

    SetReadFaults(s.file.str(), {{300 * kPage, 1}});
    EXPECT_EQ(s.f.ReadAt(256 * kPage, block.data(), block.size()), block.size());
    const ReadCounts first = ReadFaultCounts();
    // Halving: per level of the 256 pages, the failed half (a short read, then the failure)
    // and the good one.
    EXPECT_LE(first.reads, 3u * 9 + 2);
    EXPECT_EQ(s.f.unreadable().list(), (std::vector<UnreadableRange>{range(300, 1)}));
    // The bad page again, alone and inside a larger read: the disk is not asked for it.
    std::vector<std::uint8_t> page(kPage);
    EXPECT_EQ(ReadPage(s.f, s.bytes.size(), 300 * kPage, page.data()), kPage);
    EXPECT_EQ(ReadFaultCounts().reads, first.reads);
    EXPECT_EQ(s.f.ReadAt(290 * kPage, block.data(), 20 * kPage), 20 * kPage);
    EXPECT_EQ(ReadFaultCounts().reads, first.reads + 2); // the parts before and after it
    EXPECT_EQ(ReadFaultCounts().failed, first.failed);
    block.resize(20 * kPage);
    s.expectRead(290 * kPage, block, s.f.unreadable().list());
}

TEST(FailingDisk, AClosedFileIsStillAnError) {
    PatternStore s(2 * kPage);
    s.f.Close();
    std::vector<std::uint8_t> buf(kPage);
    EXPECT_THROW((void)s.f.ReadAt(0, buf.data(), buf.size()), FileError);
}

// The first pass's read-ahead on two threads: bad pages anywhere in its blocks come out as
// zeros in their place, every other byte as the file holds it, one range per run.
TEST(FailingDisk, ReadAheadBlocksKeepEverythingButTheBadPages) {
    const std::size_t size = 200 * kPage + 300;
    PatternStore s(size);
    SetReadFaults(s.file.str(), {{0, 1}, {63 * kPage, 2 * kPage}, {64 * kPage + 5, 1},
                                 {129 * kPage, 1}, {200 * kPage + 299, 1}});
    BlockReadAhead reader(s.f, size, 16 * kPage, 3);
    BlockReadAhead::Block b;
    std::vector<std::uint8_t> all;
    while (reader.next(b)) {
        EXPECT_EQ(b.base, all.size());
        all.insert(all.end(), b.bytes, b.bytes + b.want);
    }
    ASSERT_EQ(all.size(), size);
    const std::vector<UnreadableRange> want{range(0, 1), range(63, 2), range(129, 1),
                                            {200 * kPage, 300, EIO}};
    EXPECT_EQ(s.f.unreadable().list(), want);
    s.expectRead(0, all, want);
}
