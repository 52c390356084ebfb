#include "decode/long_values.h"
#include "scan/chain_markers.h"
#include "scan/scan.h"
#include "tests/support/store_builder.h"

#include <gtest/gtest.h>

using namespace edb;
using edbtest::Page;
using edbtest::StoreBuilder;
using edbtest::TempFile;

namespace {
struct RecordingHost : ScanHost {
    std::vector<std::int64_t> progress_;
    std::vector<std::string> rows;
    void progress(std::int64_t p) override { progress_.push_back(p); }
    void mailboxRowsReady(const std::vector<std::string>& names) override { rows = names; }
};

std::vector<PageEntry> firstPass(const StoreBuilder& b, StoreCatalog& cat) {
    const auto bytes = b.bytes();
    std::int32_t n = 0;
    for (std::size_t o = 0; o < bytes.size(); o += 4096) {
        const std::size_t len = std::min<std::size_t>(4096, bytes.size() - o);
        JudgeFirstPassPage(cat, ByteView(bytes.data() + o, len), o, n);
    }
    cat.recordedPageCount = n;
    return cat.pageList.entries();
}
} // namespace

TEST(FirstPass, RecordsOnlyWholeOwnerNumbers) {
    StoreBuilder b;
    b.addPage(21);
    b.page(b.addPage(0)).put(24, {21, 1, 0, 0}); // owner 0x00000115, not 21
    b.addPage(8);
    b.addPage(7);
    b.addPage(106);
    b.addPage(2); // no 0x80 .. 0x2D pattern
    StoreCatalog cat;
    const auto pages = firstPass(b, cat);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].owner, 21u);
    EXPECT_EQ(pages[1].owner, 8u);
    EXPECT_EQ(pages[1].offset, 2u * 4096);
    EXPECT_EQ(pages[2].owner, 106u);
    EXPECT_EQ(cat.recordedPageCount, 3);
}

TEST(FirstPass, N1013CodeOnlyBeforeThePatternAndWithNonZeroBytes) {
    StoreCatalog cat;
    cat.n1013Code = {0x5C, 0x01};
    {
        StoreBuilder b; // no pattern: the occurrence still counts, the page is not recorded
        b.page(b.addPage(2)).put(100 - 23, {0x1F, 0x10}).ascii(100, "N1013");
        EXPECT_TRUE(firstPass(b, cat).empty());
        EXPECT_EQ(cat.n1013Code, (std::array<std::uint8_t, 2>{0x1F, 0x10}));
    }
    {
        StoreBuilder b; // zero byte at -22: unchanged
        b.page(b.addPage(2)).put(100 - 23, {0x33, 0x00}).ascii(100, "N1013");
        firstPass(b, cat);
        EXPECT_EQ(cat.n1013Code, (std::array<std::uint8_t, 2>{0x1F, 0x10}));
    }
    {
        StoreBuilder b; // two before the pattern (last wins), one after it (ignored)
        Page& p = b.page(b.addPage(2));
        p.put(200 - 23, {0x41, 0x42}).ascii(200, "N1013");
        p.put(300 - 23, {0x43, 0x44}).ascii(300, "N1013");
        p.put(400, {0x80, 0, 0, 0, 0x2D});
        p.put(500 - 23, {0x45, 0x46}).ascii(500, "N1013");
        StoreCatalog c2;
        const auto pages = firstPass(b, c2);
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].owner, 2u);
        EXPECT_EQ(c2.n1013Code, (std::array<std::uint8_t, 2>{0x43, 0x44}));
    }
}

TEST(Scan, TwoPagesReportZeroThenFortyNine) {
    StoreBuilder b;
    b.addPage(7);
    b.addPage(7);
    TempFile f;
    b.writeTo(f.path());
    StoreCatalog cat;
    RecordingHost host;
    const ScanResult r = RunScan(cat, f.str(), host);
    EXPECT_EQ(r.outcome, ScanOutcome::NoMailbox);
    ASSERT_GE(host.progress_.size(), 2u);
    EXPECT_EQ(host.progress_[0], 0);
    EXPECT_EQ(host.progress_[1], 49);
    EXPECT_FALSE(cat.storeFile.isOpen());
}

TEST(Scan, EmptyFileAndShortLastPage) {
    {
        TempFile f;
        StoreBuilder().writeTo(f.path());
        StoreCatalog cat;
        RecordingHost host;
        EXPECT_EQ(RunScan(cat, f.str(), host).outcome, ScanOutcome::NoMailbox);
        EXPECT_TRUE(cat.pageList.entries().empty());
    }
    {
        StoreBuilder b;
        b.addPage(7);
        b.addPage(19);
        TempFile f;
        b.writeTo(f.path(), 4096 + 30); // the last page has 30 bytes, owner included
        StoreCatalog cat;
        RecordingHost host;
        RunScan(cat, f.str(), host);
        EXPECT_EQ(cat.recordedPageCount, 1);
    }
}

TEST(Scan, OpenFailureAndReadErrorNameTheFile) {
    StoreCatalog cat;
    RecordingHost host;
    ScanResult r = RunScan(cat, "/nonexistent/x.edb", host);
    EXPECT_EQ(r.outcome, ScanOutcome::OpenFailed);
    EXPECT_EQ(r.file, "/nonexistent/x.edb");
    EXPECT_NE(r.reason.find("No such file"), std::string::npos);
}

TEST(Scan, StopIsNotUndoneByALaterPause) {
    // The window asks for a hold after the mailbox rows on the scan thread; a stop answered in
    // between must still end the scan at its next checkpoint instead of leaving it waiting.
    edb::CancelToken control;
    control.cancel(edb::StopReason::User);
    control.pause();
    EXPECT_THROW(control.checkpoint(), edb::Cancelled);
}

// The chunk markers the first pass notes give every chain block the markers, and values, that
// a search of the block's own bytes finds: markers planted across the first pass's 1 MiB reads
// and at the file's end, values cut by the block's end, more than 50 in one block.
TEST(FirstPass, NotedChunkMarkersAreThoseOfEveryBlock) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    std::vector<std::uint8_t> bytes(8 * kMiB + 3000, 0x41);
    auto plant = [&](std::size_t at, std::uint32_t value) {
        const std::uint8_t marker[] = {0x03,
                                       0x00,
                                       0x05,
                                       static_cast<std::uint8_t>(value),
                                       static_cast<std::uint8_t>(value >> 8),
                                       static_cast<std::uint8_t>(value >> 16),
                                       static_cast<std::uint8_t>(value >> 24)};
        for (std::size_t k = 0; k < sizeof marker && at + k < bytes.size(); ++k) {
            bytes[at + k] = marker[k];
        }
    };
    // Across the end of the b-th read: the marker itself for b = 1 and 2, its value up to 6.
    for (std::size_t b = 1; b <= 7; ++b) {
        plant(b * kMiB - b, 0x100 + static_cast<std::uint32_t>(b));
    }
    for (std::size_t k = 0; k < 60; ++k) {
        plant(kMiB + 5000 + 8 * k,
              0x300 + static_cast<std::uint32_t>(k)); // more than a block takes
    }
    bytes[kMiB + 20000] = 0x03; // a lone marker byte, and a part marker
    bytes[kMiB + 20001] = 0x00;
    plant(bytes.size() - 5, 0x400); // value cut by the end of the file
    plant(bytes.size() - 2, 0x500); // marker cut by the end of the file
    TempFile f;
    {
        std::FILE* out = std::fopen(f.str().c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
        std::fclose(out);
    }
    StoreCatalog cat;
    ASSERT_TRUE(cat.storeFile.Open(f.str()));
    cat.storeSize = bytes.size();
    RecordingHost host;
    ScanContext ctx{cat, host, nullptr};
    RunFirstPass(ctx);
    ASSERT_TRUE(ctx.chainMarkers && ctx.chainMarkers->usable());
    // Every block start near the planted markers, and a sample elsewhere.
    std::vector<std::uint64_t> starts;
    std::vector<std::uint64_t> around{kMiB + 5500, bytes.size()};
    for (std::size_t b = 1; b <= 7; ++b) {
        around.push_back(b * kMiB);
    }
    for (const std::uint64_t at : around) {
        for (std::uint64_t s = at - 4200; s < std::min<std::uint64_t>(at + 100, bytes.size());
             ++s) {
            starts.push_back(s);
        }
    }
    for (std::uint64_t s = 0; s < bytes.size(); s += 9973) {
        starts.push_back(s);
    }
    std::size_t compared = 0;
    for (const std::uint64_t start : starts) {
        const std::size_t n = std::min<std::size_t>(4096, bytes.size() - start);
        ChainMarkers want;
        FindChainMarkers(ByteView(bytes.data() + start, n), want);
        ChainMarkers got;
        ctx.chainMarkers->blockMarkers(start, n, got);
        ASSERT_EQ(got.count, want.count) << "block at " << start;
        for (std::size_t k = 0; k < want.count; ++k) {
            ASSERT_EQ(got.items[k].at, want.items[k].at) << "block at " << start;
            ASSERT_EQ(got.items[k].value, want.items[k].value) << "block at " << start;
        }
        compared += want.count;
    }
    EXPECT_GT(compared, 100000u);
}
