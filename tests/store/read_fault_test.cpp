// A disk that fails under the scan: the pages it cannot give back are noted with the system's
// reason and read as zeros, every stage goes on, and what lies elsewhere is found.
#include "scan/scan.h"
#include "tests/faults/read_faults.h"
#include "tests/support/demo_store.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

using namespace edb;
using namespace edbtest;

namespace {

struct QuietHost : ScanHost {
    std::vector<std::string> rows;
    void progress(std::int64_t) override {}
    void mailboxRowsReady(const std::vector<std::string>& names) override { rows = names; }
};

struct DemoFile {
    TempFile file;
    std::vector<std::uint8_t> bytes;
    DemoFile() {
        StoreBuilder b;
        buildDemoStore(b, DemoOptions{2, 3});
        bytes = b.bytes();
        b.writeTo(file.path());
    }
    // Offset of the first page with this owner.
    [[nodiscard]] std::uint64_t firstPageOf(std::uint32_t owner) const {
        for (std::size_t k = 0; k * kPage < bytes.size(); ++k) {
            const std::uint8_t* h = bytes.data() + k * kPage + 24;
            if ((h[0] | (h[1] << 8) | (h[2] << 16) | (std::uint32_t{h[3]} << 24)) == owner) {
                return k * kPage;
            }
        }
        return UINT64_MAX;
    }
};

struct Faulted {
    StoreCatalog cat;
    QuietHost host;
    ScanResult result;
};

// Scans the demo store with `faults` armed, and disarms them.
std::unique_ptr<Faulted> scanWithFaults(const DemoFile& demo, std::vector<FaultRange> faults,
                                        int code = EIO) {
    SetReadFaults(demo.file.str(), std::move(faults), code);
    auto s = std::make_unique<Faulted>();
    s->result = RunScan(s->cat, demo.file.str(), s->host);
    ClearReadFaults();
    return s;
}

struct Counts {
    std::size_t mailboxes = 0, folders = 0, messages = 0;
};
Counts countsOf(const StoreCatalog& cat) {
    return {cat.mailboxList.size(), cat.folderList.size(), cat.messages.size()};
}

UnreadableRange pageRange(std::uint64_t at, int code = EIO) {
    return {at / kPage * kPage, kPage, code};
}

} // namespace

// A page the disk cannot give back costs that page: the scan completes, names the page with
// the system's reason, and finds the rest.
TEST(ReadFault, FirstPassFaultIsNotedAndTheScanGoesOn) {
    const DemoFile demo;
    Counts whole;
    {
        StoreCatalog cat; // holds the store open (exclusively) until it goes
        QuietHost host;
        ASSERT_EQ(RunScan(cat, demo.file.str(), host).outcome, ScanOutcome::Complete);
        whole = countsOf(cat);
    }
    // Page 3 holds no record the demo's mailboxes need: nothing is lost but its bytes.
    const auto s = scanWithFaults(demo, {{3 * kPage + 100, 1}});
    EXPECT_EQ(s->result.outcome, ScanOutcome::Complete);
    EXPECT_EQ(s->result.unreadable, std::vector<UnreadableRange>{pageRange(3 * kPage)});
    EXPECT_EQ(s->result.unreadable.front().reason(), std::strerror(EIO));
    const Counts c = countsOf(s->cat);
    EXPECT_EQ(c.mailboxes, whole.mailboxes);
    EXPECT_EQ(c.folders, whole.folders);
    EXPECT_EQ(c.messages, whole.messages);
}

// Sectors that fail only when a later stage reads them again: those stages read zeros there,
// the scan completes, and what the earlier stages found stays.
TEST(ReadFault, LaterFaultsKeepWhatWasFound) {
    const DemoFile demo;
    Counts whole;
    {
        StoreCatalog cat;
        QuietHost host;
        ASSERT_EQ(RunScan(cat, demo.file.str(), host).outcome, ScanOutcome::Complete);
        whole = countsOf(cat);
    }

    // The second read of a folder page is folder discovery's: the mailboxes stay.
    {
        const std::uint64_t at = demo.firstPageOf(8);
        const auto s = scanWithFaults(demo, {{at + 10, 1, 1}}, ENXIO);
        EXPECT_EQ(s->result.outcome, ScanOutcome::Complete);
        EXPECT_EQ(s->result.unreadable, std::vector<UnreadableRange>{pageRange(at, ENXIO)});
        EXPECT_EQ(s->cat.mailboxList.size(), whole.mailboxes);
        EXPECT_EQ(s->host.rows.size(), whole.mailboxes);
    }
    // A properties page (the demo's first also holds table rows) and the last page, failing
    // after the first pass: the folders stay, and no more messages go than when the page
    // fails from the start.
    for (const std::uint64_t at : {demo.firstPageOf(19) + 10, demo.bytes.size() - 1}) {
        std::size_t early = 0;
        {
            early = scanWithFaults(demo, {{at, 1}})->cat.messages.size();
        }
        const auto s = scanWithFaults(demo, {{at, 1, 1}});
        EXPECT_EQ(s->result.outcome, ScanOutcome::Complete);
        EXPECT_EQ(s->result.unreadable, std::vector<UnreadableRange>{pageRange(at)});
        EXPECT_EQ(s->cat.folderList.size(), whole.folders);
        EXPECT_EQ(s->cat.messages.size(), early) << at;
        EXPECT_GT(s->cat.messages.size(), whole.messages / 2);
    }
}

// Every page failing: nothing is found, and the whole file is one unreadable range.
TEST(ReadFault, ADiskThatGivesNothingIsOneRange) {
    const DemoFile demo;
    const auto s = scanWithFaults(demo, {{0, demo.bytes.size()}});
    EXPECT_EQ(s->result.outcome, ScanOutcome::NoMailbox);
    EXPECT_EQ(s->result.unreadable,
              (std::vector<UnreadableRange>{{0, demo.bytes.size(), EIO}}));
    EXPECT_TRUE(s->cat.mailboxList.empty());
}
