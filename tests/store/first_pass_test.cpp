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
