// The scan beside a tree walk and listings on other threads, as the window runs them while the
// scan worker still appends. Run under ThreadSanitizer (ctest -L concurrency).
#include "views/message_list.h"
#include "scan/scan.h"
#include "catalog/tree_build.h"
#include "tests/support/demo_store.h"
#ifdef EDB_TEST_READ_FAULTS
#include "tests/faults/read_faults.h"
#endif

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using namespace edb;
using namespace edbtest;
using edb::views::ListMessages;
using edb::views::MessageListing;

namespace {

struct SignallingHost : ScanHost {
    std::atomic<bool> rowsReady{false};
    void progress(std::int64_t) override {}
    void mailboxRowsReady(const std::vector<std::string>&) override {
        rowsReady.store(true, std::memory_order_release);
    }
};

class CountingSink : public TreeSink {
public:
    TreeItem insertItem(TreeItem, const std::string&, char, const std::string&,
                        std::size_t) override {
        return m_next.fetch_add(1) + 1;
    }
    void restart() { m_next.store(0); }

private:
    std::atomic<TreeItem> m_next{0};
};

} // namespace

TEST(Concurrency, ScanBesideTreeWalksAndListings) {
    TempFile file;
    writeDemoStore(file.path(), DemoOptions{4, 12});
    StoreCatalog cat;
    SignallingHost host;
    std::atomic<bool> scanDone{false};
    std::atomic<TreeItem> lastItem{0};
    ScanResult result;
    // Slow reads stretch the scan so the walks and listings overlap its appends.
#ifdef EDB_TEST_READ_FAULTS
    edbtest::SetReadDelay(file.str(), std::chrono::microseconds(200));
    struct Fast {
        ~Fast() { edbtest::ClearReadFaults(); }
    } fast;
#endif
    std::atomic<std::size_t> buildsDuringScan{0};

    std::thread scan([&] {
        result = RunScan(cat, file.str(), host);
        scanDone.store(true, std::memory_order_release);
    });

    std::size_t builds = 0;
    std::thread walker([&] { // the window thread: Next, then rebuilds of the tree
        while (!host.rowsReady.load(std::memory_order_acquire)) {
            if (scanDone.load(std::memory_order_acquire)) {
                return;
            }
            std::this_thread::yield();
        }
        const FolderNode* mailbox = MailboxAt(cat, 0);
        ASSERT_NE(mailbox, nullptr);
        CountingSink sink;
        int after = 0;
        while (after < 3) {
            after += scanDone.load(std::memory_order_acquire) ? 1 : 0;
            sink.restart();
            const TreeBuildResult r = BuildFolderTree(cat, *mailbox, sink);
            lastItem.store(r.items, std::memory_order_release);
            ++builds;
            if (after == 0) {
                ++buildsDuringScan;
            }
        }
    });

    std::size_t listings = 0;
    std::size_t rowsSeen = 0;
    std::thread lister([&] { // listing workers on as many folders as the last tree showed
        int after = 0;
        while (after < 3) {
            after += scanDone.load(std::memory_order_acquire) ? 1 : 0;
            const TreeItem n = lastItem.load(std::memory_order_acquire);
            for (std::size_t folder = 0; folder <= n; ++folder) {
                const MessageListing l = ListMessages(cat, folder);
                rowsSeen += l.rows.size();
                ++listings;
            }
        }
    });

    scan.join();
    walker.join();
    lister.join();
    EXPECT_EQ(result.outcome, ScanOutcome::Complete);
    EXPECT_GT(buildsDuringScan.load(), 1u);
    EXPECT_GT(builds, 0u);
    EXPECT_GT(listings, 0u);
    // After the scan the last build shows the whole first mailbox, and its folders list rows.
    EXPECT_GT(lastItem.load(), 5u);
    EXPECT_GT(rowsSeen, 0u);
}

// Stop and pause in every order a window can produce them: a stop always ends the scan (also a
// pause asked for after it, as a late "hold after the rows" does), No lets it run to the end,
// and the reason is kept. A cancelled tree build ends at once with its reason.
TEST(Concurrency, StopEndsAPausedScanWhateverTheOrder) {
    TempFile file;
    writeDemoStore(file.path(), DemoOptions{2, 6});
    const auto scanWith = [&](const std::function<void(CancelToken&)>& before,
                              const std::function<void(CancelToken&)>& whileHeld) {
        StoreCatalog cat;
        SignallingHost host;
        CancelToken token;
        before(token);
        ScanResult result;
        std::thread scan([&] { result = RunScan(cat, file.str(), host, &token); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        whileHeld(token);
        scan.join();
        return result;
    };
    const auto none = [](CancelToken&) {};
    const auto pause = [](CancelToken& t) { t.pause(); };

    ScanResult r = scanWith(pause, [](CancelToken& t) { t.cancel(StopReason::User); });
    EXPECT_EQ(r.outcome, ScanOutcome::Stopped);
    EXPECT_EQ(r.stopReason, StopReason::User);

    r = scanWith(pause, [](CancelToken& t) {
        t.cancel(StopReason::Shutdown);
        t.pause(); // late: must not hold the stopped scan
        t.cancel(StopReason::User);
    });
    EXPECT_EQ(r.outcome, ScanOutcome::Stopped);
    EXPECT_EQ(r.stopReason, StopReason::Shutdown); // the first reason wins

    r = scanWith(pause, [](CancelToken& t) {
        EXPECT_TRUE(t.paused());
        t.resume();
    });
    EXPECT_EQ(r.outcome, ScanOutcome::Complete);

    r = scanWith([](CancelToken& t) { t.cancel(StopReason::User); }, none);
    EXPECT_EQ(r.outcome, ScanOutcome::Stopped);

    StoreCatalog cat;
    SignallingHost host;
    ASSERT_EQ(RunScan(cat, file.str(), host).outcome, ScanOutcome::Complete);
    const FolderNode* mailbox = MailboxAt(cat, 0);
    ASSERT_NE(mailbox, nullptr);
    CountingSink sink;
    CancelToken token;
    token.cancel(StopReason::Superseded);
    const TreeBuildResult built = BuildFolderTree(cat, *mailbox, sink, &token);
    EXPECT_EQ(built.items, 1u); // the root, nothing below it
    EXPECT_EQ(built.stopped, StopReason::Superseded);
}
