// A disk that fails: the scan ends with "read_error", names the file, the offset and the
// system's reason, and keeps what it had found before the fault.
#include "scan/scan.h"
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

// Fails with `code` the `nth` read (1-based) whose range covers `offset`.
CFile64::FaultInjector failAt(std::uint64_t offset, int nth, int code = EIO) {
    auto seen = std::make_shared<int>(0);
    return [=](std::uint64_t at, std::size_t count) {
        if (offset >= at && offset - at < count && ++*seen == nth) {
            return code;
        }
        return 0;
    };
}

struct Faulted {
    StoreCatalog cat;
    QuietHost host;
    ScanResult result;
};

std::unique_ptr<Faulted> scanWithFault(const DemoFile& demo, CFile64::FaultInjector f) {
    auto s = std::make_unique<Faulted>();
    s->cat.storeFile.setFaultInjector(std::move(f));
    s->result = RunScan(s->cat, demo.file.str(), s->host);
    return s;
}

} // namespace

TEST(ReadFault, FirstPassFaultNamesFileOffsetAndReason) {
    const DemoFile demo;
    const auto s = scanWithFault(demo, failAt(3 * kPage + 100, 1));
    EXPECT_EQ(s->result.outcome, ScanOutcome::ReadError);
    EXPECT_STREQ(OutcomeName(s->result.outcome), "read_error");
    EXPECT_EQ(s->result.errorCode, EIO);
    EXPECT_EQ(s->result.file, demo.file.str());
    EXPECT_NE(s->result.reason.find(std::strerror(EIO)), std::string::npos) << s->result.reason;
    EXPECT_TRUE(s->cat.mailboxList.empty()); // nothing was found yet
}

TEST(ReadFault, LaterFaultsKeepWhatWasFound) {
    const DemoFile demo;
    struct Counts {
        std::size_t mailboxes, folders, messages;
    } whole{};
    {
        StoreCatalog cat; // holds the store open (exclusively) until it goes
        QuietHost host;
        ASSERT_EQ(RunScan(cat, demo.file.str(), host).outcome, ScanOutcome::Complete);
        whole = {cat.mailboxList.size(), cat.folderList.size(), cat.messages.size()};
    }

    // The second read of a folder page is folder discovery's: the mailboxes stay.
    {
        const std::uint64_t at = demo.firstPageOf(8);
        const auto s = scanWithFault(demo, failAt(at + 10, 2, ENXIO));
        EXPECT_EQ(s->result.outcome, ScanOutcome::ReadError);
        EXPECT_EQ(s->result.errorCode, ENXIO);
        EXPECT_EQ(s->result.errorOffset, at);
        EXPECT_EQ(s->cat.mailboxList.size(), whole.mailboxes);
        EXPECT_EQ(s->host.rows.size(), whole.mailboxes);
    }
    // A properties page fails after discovery and the tables: folders and messages stay.
    {
        const std::uint64_t at = demo.firstPageOf(19);
        const auto s = scanWithFault(demo, failAt(at + 10, 2));
        EXPECT_EQ(s->result.outcome, ScanOutcome::ReadError);
        EXPECT_EQ(s->cat.folderList.size(), whole.folders);
        EXPECT_EQ(s->cat.messages.size(), whole.messages);
    }
    // The long-value stage's own pass over the file (the third read of the last page).
    {
        const std::uint64_t at = demo.bytes.size() - 1;
        const auto s = scanWithFault(demo, failAt(at, 3));
        if (s->result.outcome == ScanOutcome::ReadError) {
            EXPECT_EQ(s->cat.messages.size(), whole.messages);
        } else {
            EXPECT_EQ(s->result.outcome, ScanOutcome::Complete); // that page is read twice only
        }
    }
}
