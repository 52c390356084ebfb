#include <gtest/gtest.h>

#include "scan/discovery.h"
#include "scan/scan.h"
#include "tests/support/discovery_records.h"

using namespace edb;
using namespace edbtest;

namespace {
struct QuietHost : ScanHost {
    std::vector<std::string> rows;
    void progress(std::int64_t) override {}
    void mailboxRowsReady(const std::vector<std::string>& names) override { rows = names; }
};

std::vector<std::string> mailboxNames(const StoreCatalog& cat) {
    std::vector<std::string> out;
    for (const auto& f : cat.folderList) {
        out.push_back(f.name);
    }
    return out;
}

void readMailboxes(StoreCatalog& cat, const Page& p) {
    ReadMailboxRecords(cat, ByteView(p.bytes().data(), p.bytes().size()));
}

struct Scanned {
    StoreCatalog cat;
    QuietHost host;
    ScanResult result;
};

std::unique_ptr<Scanned> scan(const StoreBuilder& b) {
    auto s = std::make_unique<Scanned>();
    TempFile f;
    b.writeTo(f.path());
    s->result = RunScan(s->cat, f.str(), s->host);
    return s;
}

const FolderNode* findFolder(const StoreCatalog& cat, std::string_view name) {
    for (const auto& f : cat.folderList) {
        if (f.name == name) {
            return &f;
        }
    }
    return nullptr;
}
} // namespace

TEST(MailboxPass, BothFormsAndTheFormChoice) {
    Page p;
    p.owner(21);
    writeMailboxRecord(p, 100, 1, makeId(1), u"Ann Smith");
    writeMailboxRecord(p, 400, 2, makeId(2), u"Bob");
    StoreCatalog cat;
    readMailboxes(cat, p);
    EXPECT_EQ(mailboxNames(cat), (std::vector<std::string>{"Ann Smith", "Bob"}));

    // Form 1's id test holds but its marker byte does not: nothing, although form 2 would fit.
    Page q;
    writeMailboxRecord(q, 100, 2, makeId(3), u"Hidden");
    q.put(100 + 63, {0x01, 0x00});
    StoreCatalog cat2;
    readMailboxes(cat2, q);
    EXPECT_TRUE(cat2.folderList.empty());
}

TEST(MailboxPass, NamesAreCutAt260AndKeepWholeCharacters) {
    Page p;
    const std::u16string longName(300, u'x');
    writeMailboxRecord(p, 100, 1, makeId(1), longName);
    writeMailboxRecord(p, 1000, 1, makeId(2), u"Иван Петров");
    writeMailboxRecord(p, 1500, 1, makeId(3), u"a\u0102b"); // low byte 0x02 does not stop it
    StoreCatalog cat;
    readMailboxes(cat, p);
    const auto names = mailboxNames(cat);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], std::string(260, 'x'));
    EXPECT_EQ(names[1], "Иван Петров");
    EXPECT_EQ(names[2], "a\xC4\x82" "b");
}

TEST(FolderDiscovery, NestedFoldersKindsAndLaterSweeps) {
    StoreBuilder b;
    writeMailboxRecord(b.page(b.addPage(21)), 100, 1, makeId(1), u"Ann");
    // The subfolder's page comes before its parent's page: found in the second sweep.
    addFolderPages(b, {{makeId(12), makeId(11), u"Projects", u"IPF.Note"}});
    addFolderPages(b, {{makeId(10), makeId(1), u"Contacts", u"IPF.Contact.Custom"},
                       {makeId(11), makeId(1), u"Inbox", u"IPF.Note"},
                       {makeId(13), makeId(1), u"Calendar", u"ipf.appointment"},
                       {makeId(14), makeId(1), u"Tasks", u"IPF.Task"},
                       {makeId(15), makeId(11), u"Same page child", {}}});
    auto s = scan(b);
    EXPECT_EQ(s->result.outcome, ScanOutcome::Complete) << s->result.reason;
    EXPECT_EQ(s->host.rows, std::vector<std::string>{"Ann"});
    ASSERT_EQ(s->cat.folderList.size(), 7u);
    std::vector<std::string> order;
    for (const auto& f : s->cat.folderList) {
        order.push_back(f.name);
    }
    // A child on its parent's page is not matched in the sweep that finds the parent (matching
    // runs before recording), so both children come from the second sweep, in page order.
    EXPECT_EQ(order, (std::vector<std::string>{"Ann", "Contacts", "Inbox", "Calendar", "Tasks",
                                               "Projects", "Same page child"}));
    EXPECT_EQ(findFolder(s->cat, "Contacts")->kind, 'c');
    EXPECT_EQ(findFolder(s->cat, "Calendar")->kind, 'a');
    EXPECT_EQ(findFolder(s->cat, "Tasks")->kind, 0);
    EXPECT_EQ(findFolder(s->cat, "Projects")->parentId, makeId(11));
    EXPECT_EQ(s->cat.mailboxList.size(), 1u);
}

TEST(FolderDiscovery, DuplicateRecordsOnTwoPagesGiveOneEntry) {
    StoreBuilder b;
    writeMailboxRecord(b.page(b.addPage(21)), 100, 1, makeId(1), u"Ann");
    addFolderPages(b, {{makeId(11), makeId(1), u"Inbox", {}}});
    addFolderPages(b, {{makeId(11), makeId(1), u"Inbox", {}}});
    auto s = scan(b);
    EXPECT_EQ(s->cat.folderList.size(), 2u);
}

TEST(FolderDiscovery, NameStopsAtLowByteTwoAndLengthRuleWithH3) {
    StoreBuilder b;
    writeMailboxRecord(b.page(b.addPage(21)), 100, 1, makeId(1), u"Ann");
    Page& p = b.page(b.addPage(8));
    writeFolderRecord(p, 200, {makeId(11), makeId(1), u"ab\u0202cd", {}});
    // A long name whose length needs h = 3: Y = (V4 - V0) + 513.
    const std::u16string longName(300, u'n');
    const std::size_t a = 600;
    writeFolderRecord(p, a, {makeId(12), makeId(1), longName, {}});
    const std::size_t v = a - 10 + 20 + 3 + 9;
    p.put(v + 4, {32, 0x03}); // V4 = V0, h = 3: Y = 513, so 256 units at most
    auto s = scan(b);
    ASSERT_NE(findFolder(s->cat, "ab"), nullptr);
    EXPECT_NE(findFolder(s->cat, std::string(256, 'n')), nullptr);
}

TEST(Scan, SecondScanInTheSameRunAddsNoDuplicates) {
    StoreBuilder b;
    writeMailboxRecord(b.page(b.addPage(21)), 100, 1, makeId(1), u"Ann");
    addFolderPages(b, {{makeId(11), makeId(1), u"Inbox", {}}});
    TempFile f;
    b.writeTo(f.path());
    StoreCatalog cat;
    QuietHost host;
    RunScan(cat, f.str(), host);
    cat.storeFile.Close();
    RunScan(cat, f.str(), host);
    EXPECT_EQ(cat.folderList.size(), 2u);
    EXPECT_EQ(cat.mailboxList.size(), 1u);
}
