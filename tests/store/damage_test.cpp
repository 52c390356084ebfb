// Damaged and hostile stores: every scan ends, the catalog stays walkable and dumps as valid
// JSON, and what the damage spares is still found.
#include "cli/json_catalog.h"
#include "views/message_list.h"
#include "scan/scan.h"
#include "catalog/tree_build.h"
#include "tests/support/contents_records.h"
#include "tests/support/demo_store.h"
#include "tests/support/discovery_records.h"
#include "tests/support/properties_records.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <unistd.h>

using namespace edb;
using namespace edbtest;
using edb::views::ListMessages;
using edb::views::MessageListing;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct QuietHost : ScanHost {
    void progress(std::int64_t) override {}
    void mailboxRowsReady(const std::vector<std::string>&) override {}
};

// Keeps the folder each item shows.
class FolderSink : public TreeSink {
public:
    TreeItem insertItem(TreeItem, const std::string&, char, const std::string&,
                        std::size_t folder) override {
        folders.push_back(folder);
        return folders.size();
    }
    std::vector<std::size_t> folders;
};

struct Scanned {
    StoreCatalog cat;
    ScanResult result;
    std::set<std::string> folders;  // "parent-hex/id-hex/name"
    std::set<std::string> messages; // "folder-hex/message-hex/subject"
};

// Walks every mailbox's tree and lists every folder, then checks the dump parses back.
void checkWellFormed(Scanned& s) {
    for (const FolderNode& mailbox : s.cat.mailboxList) {
        FolderSink sink;
        (void)BuildFolderTree(s.cat, mailbox, sink);
        // Item 1 is the mailbox root (no folder of its own); the rest show folders.
        ASSERT_FALSE(sink.folders.empty());
        EXPECT_EQ(sink.folders.front(), kNoFolder);
        for (std::size_t i = 1; i < sink.folders.size(); ++i) {
            const MessageListing listing = ListMessages(s.cat, sink.folders[i]);
            EXPECT_TRUE(listing.folderFound);
        }
    }
    const std::string text = edbcli::catalogJsonText(s.cat, s.result);
    const auto doc = nlohmann::json::parse(text);
    EXPECT_EQ(doc.at("outcome").get<std::string>(), OutcomeName(s.result.outcome));
}

std::unique_ptr<Scanned> scanFile(const std::string& path) {
    auto s = std::make_unique<Scanned>();
    QuietHost host;
    s->result = RunScan(s->cat, path, host);
    for (const FolderNode& f : s->cat.folderList) {
        s->folders.insert(ToHex(f.parentId) + "/" + ToHex(f.id) + "/" + f.name);
    }
    for (const MessageEntry& m : s->cat.messages) {
        s->messages.insert(ToHex(m.folderId) + "/" + ToHex(m.messageId) + "/" + m.subject);
    }
    checkWellFormed(*s);
    return s;
}

// With EDB_DAMAGE_STORES_OUT=DIR every damaged store is also kept there (damage-NNNN.edb), so
// dumps of the same stores can be compared across changes to the scan.
void keepCopy(const Bytes& bytes) {
    static int count = 0;
    const char* dir = std::getenv("EDB_DAMAGE_STORES_OUT");
    if (dir == nullptr || *dir == '\0') {
        return;
    }
    char name[32];
    std::snprintf(name, sizeof name, "/damage-%04d.edb", count++);
    std::FILE* out = std::fopen((std::string(dir) + name).c_str(), "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    std::fclose(out);
}

std::unique_ptr<Scanned> scanBytes(const Bytes& bytes) {
    keepCopy(bytes);
    TempFile f;
    {
        std::FILE* out = std::fopen(f.str().c_str(), "wb");
        EXPECT_NE(out, nullptr);
        if (out != nullptr) {
            EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
            std::fclose(out);
        }
    }
    return scanFile(f.str());
}

bool subset(const std::set<std::string>& a, const std::set<std::string>& b) {
    return std::includes(b.begin(), b.end(), a.begin(), a.end());
}

std::uint32_t ownerOf(const Bytes& b, std::size_t k) {
    const std::size_t o = k * kPage + 24;
    return b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (std::uint32_t{b[o + 3]} << 24);
}

const Bytes& demo() {
    static const Bytes bytes = [] {
        StoreBuilder b;
        buildDemoStore(b, DemoOptions{3, 3});
        return b.bytes();
    }();
    return bytes;
}

const Scanned& demoScan() {
    static const std::unique_ptr<Scanned> s = scanBytes(demo());
    return *s;
}

std::size_t pages(const Bytes& b) {
    return b.size() / kPage;
}

} // namespace

TEST(DamagedStore, IntactDemoIsTheReference) {
    const Scanned& s = demoScan();
    EXPECT_EQ(s.result.outcome, ScanOutcome::Complete);
    EXPECT_EQ(s.cat.mailboxList.size(), 3u);
    EXPECT_GT(s.folders.size(), 20u);
    EXPECT_GT(s.messages.size(), 60u);
}

TEST(DamagedStore, TruncatedAtEveryPageBoundaryAndMidPage) {
    const Bytes& full = demo();
    const Scanned& ref = demoScan();
    for (std::size_t k = 0; k <= pages(full); ++k) {
        for (const std::size_t extra : {std::size_t{0}, std::size_t{27}, kPage / 2 + 3}) {
            const std::size_t size = std::min(full.size(), k * kPage + extra);
            SCOPED_TRACE("size " + std::to_string(size));
            const auto s = scanBytes(Bytes(full.begin(), full.begin() + size));
            // A cut store holds nothing its whole self did not.
            EXPECT_TRUE(subset(s->folders, ref.folders));
            EXPECT_TRUE(subset(s->messages, ref.messages));
            if (size >= 2 * kPage) { // the mailbox page is whole
                EXPECT_EQ(s->cat.mailboxList.size(), 3u);
            } else if (size < kPage + 60) { // not even the first mailbox record
                EXPECT_EQ(s->result.outcome, ScanOutcome::NoMailbox);
            }
            if (size == full.size()) {
                EXPECT_EQ(s->folders, ref.folders);
                EXPECT_EQ(s->messages, ref.messages);
            }
        }
    }
}

TEST(DamagedStore, ZeroedPagesSpareTheRest) {
    const Bytes& full = demo();
    const Scanned& ref = demoScan();
    for (std::size_t k = 1; k < pages(full); ++k) {
        SCOPED_TRACE("page " + std::to_string(k));
        const std::uint32_t owner = ownerOf(full, k);
        Bytes b = full;
        std::fill(b.begin() + static_cast<std::ptrdiff_t>(k * kPage),
                  b.begin() + static_cast<std::ptrdiff_t>((k + 1) * kPage), 0);
        const auto s = scanBytes(b);
        EXPECT_TRUE(subset(s->folders, ref.folders));
        EXPECT_TRUE(subset(s->messages, ref.messages));
        if (owner != 21) {
            EXPECT_EQ(s->cat.mailboxList.size(), 3u);
        }
        if (owner != 21 && owner != 8) {
            EXPECT_EQ(s->folders, ref.folders); // folders live on owner-8 pages only
        }
        if (owner == 19 || owner == 61 || owner == 106 || owner == kDefaultLongValueOwner) {
            EXPECT_EQ(s->messages, ref.messages); // entries come from the tables
        }
    }
}

TEST(DamagedStore, FlippedBytesNearRecords) {
    const Bytes& full = demo();
    std::mt19937 rng(11);
    for (int round = 0; round < 60; ++round) {
        Bytes b = full;
        // Damage pages that hold records (not the header page), a handful of bytes at a time.
        for (int i = 0; i < 24; ++i) {
            const std::size_t k = 1 + rng() % (pages(b) - 1);
            const std::size_t at = k * kPage + 16 + rng() % (kPage - 16);
            b[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
            if (i % 3 == 0) {
                b[at] = static_cast<std::uint8_t>(rng() % 2 ? 0xFF : 0x00);
            }
        }
        SCOPED_TRACE("round " + std::to_string(round));
        const auto s = scanBytes(b);
        EXPECT_NE(s->result.outcome, ScanOutcome::ReadError);
    }
}

TEST(DamagedStore, DuplicatedAndShuffledPages) {
    const Bytes& full = demo();
    const Scanned& ref = demoScan();
    {
        Bytes doubled = full; // every page twice: nothing listed twice
        doubled.insert(doubled.end(), full.begin() + kPage, full.end());
        const auto s = scanBytes(doubled);
        EXPECT_EQ(s->folders, ref.folders);
        EXPECT_EQ(s->messages, ref.messages);
        EXPECT_EQ(s->cat.messages.size(), ref.cat.messages.size());
    }
    {
        std::vector<std::size_t> order(pages(full) - 1);
        for (std::size_t k = 0; k < order.size(); ++k) {
            order[k] = k + 1;
        }
        std::shuffle(order.begin(), order.end(), std::mt19937(5));
        Bytes shuffled(full.begin(), full.begin() + kPage);
        for (const std::size_t k : order) {
            shuffled.insert(shuffled.end(), full.begin() + static_cast<std::ptrdiff_t>(k * kPage),
                            full.begin() + static_cast<std::ptrdiff_t>((k + 1) * kPage));
        }
        const auto s = scanBytes(shuffled);
        // Records are carved by pattern: mailboxes and folders do not care where their pages
        // are; the tables' page numbers now point elsewhere, so only fewer messages are found.
        EXPECT_EQ(s->folders, ref.folders);
        EXPECT_TRUE(subset(s->messages, ref.messages));
    }
}

TEST(DamagedStore, SelfReferencingAndCyclicParentChains) {
    StoreBuilder b;
    b.addPage(0);
    Page& mb = b.page(b.addPage(21));
    writeMailboxRecord(mb, 60, 1, makeId(0x10), u"Box");
    addFolderPages(b, {{makeId(0x11), makeId(0x10), u"Inbox", u"IPF.Note"},
                       {makeId(0x12), makeId(0x12), u"Self", u"IPF.Note"},
                       {makeId(0x13), makeId(0x14), u"Ping", u"IPF.Note"},
                       {makeId(0x14), makeId(0x13), u"Pong", u"IPF.Note"},
                       {makeId(0x13), makeId(0x11), u"Ping", u"IPF.Note"},
                       {makeId(0x10), makeId(0x11), u"Loop to the mailbox", u"IPF.Note"}});
    const auto s = scanBytes(b.bytes());
    EXPECT_EQ(s->result.outcome, ScanOutcome::Complete);
    EXPECT_TRUE(s->folders.count(ToHex(makeId(0x10)) + "/" + ToHex(makeId(0x11)) + "/Inbox"));
}

TEST(DamagedStore, TablePageChainsThatLoop) {
    StoreBuilder b;
    b.addPage(0);
    Page& mb = b.page(b.addPage(21));
    writeMailboxRecord(mb, 60, 1, makeId(0x10), u"Box");
    addFolderPages(b, {{makeId(0x11), makeId(0x10), u"Inbox", u"IPF.Note"}});
    std::vector<MessageSpec> messages;
    for (int k = 0; k < 40; ++k) {
        messages.push_back({makeId(0x1000 + static_cast<std::uint64_t>(k)),
                            "Message number " + std::to_string(k), "Ann", 0x01C2D345FC5DB900ULL});
    }
    const ContentsTablePages t = addContentsTable(b, makeId(0x11), 400, messages);
    ASSERT_GE(t.leafPages.size(), 2u);
    // Page numbers count from the second file page.
    auto number = [](std::size_t fileIndex) { return static_cast<std::uint32_t>(fileIndex - 1); };
    b.page(t.leafPages.back()).next(number(t.leafPages.front()));     // tail back to the head
    b.page(t.leafPages.front()).previous(number(t.leafPages.back())); // head back to the tail
    b.page(t.leafPages[1]).previous(number(t.leafPages[1]));          // one page its own
    const auto s = scanBytes(b.bytes());
    EXPECT_EQ(s->result.outcome, ScanOutcome::Complete);
    EXPECT_EQ(s->messages.size(), messages.size());
}

TEST(DamagedStore, AttachmentAndChunkReferencesOutsideTheFile) {
    StoreBuilder b;
    b.addPage(0);
    Page& mb = b.page(b.addPage(21));
    writeMailboxRecord(mb, 60, 1, makeId(0x10), u"Box");
    addFolderPages(b, {{makeId(0x11), makeId(0x10), u"Inbox", u"IPF.Note"}});
    MessageSpec m{makeId(0x1000), "With far references", "Ann", 0};
    addContentsTable(b, makeId(0x11), 400, {m});
    RecordPacker props(b, kPropertiesOwner);
    MessagePropertiesSpec p;
    p.messageId = m.messageId;
    p.sender = "Ann";
    p.primary = {PrimaryBodySpec::Kind::LongValue, "", 1252, 0x77};
    p.attachmentIds = {makeAttachmentId(1), makeAttachmentId(2)};
    addMessageProperties(b, props, p);
    RecordPacker atts(b, kAttachmentOwner);
    AttachmentSpec far;
    far.id = makeAttachmentId(1);
    far.name = u"far.bin";
    far.reference = 0x78;
    far.ownerPage = 0xFFFF; // its long-value page lies past the end of the file
    addAttachment(b, atts, far);
    AttachmentSpec inlineOne;
    inlineOne.id = makeAttachmentId(2);
    inlineOne.name = u"near.txt";
    inlineOne.data = {'h', 'i'};
    addAttachment(b, atts, inlineOne);
    // Chunk records whose chunk offsets and page numbers point far outside.
    Page& chunks = b.page(b.addPage(kBodyChunkOwner));
    chunks.u16le(42, 0x77).u32be(44, 0xFFFFFFF0u).u16le(48, 0xFFFF);
    chunks.put(200, {0x03, 0x00, 0x05}).u16le(203, 0x77).u32be(205, 4014u * 60000u);
    Page& lv = b.page(b.addPage(kDefaultLongValueOwner));
    lv.u16le(42, 0x78).u32be(44, 4014u * 1000000u).u16le(48, 4014);

    const auto s = scanBytes(b.bytes());
    EXPECT_EQ(s->result.outcome, ScanOutcome::Complete);
    ASSERT_EQ(s->cat.messages.size(), 1u);
    const MessageEntry& entry = *s->cat.messages.begin();
    std::vector<std::string> names;
    for (const AttachmentEntry& a : entry.attachments) {
        names.push_back(a.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"far.bin", "near.txt"}));
}

TEST(DamagedStore, RecordsPastFourGibibytesAreFound) {
    // A sparse store: the demo at the start, and a mailbox page and a folder page past 4 GiB.
    // The scan reads the whole file twice; memory-backed holes read fastest.
    struct BigFile {
        std::string path;
        ~BigFile() { std::remove(path.c_str()); }
        [[nodiscard]] const std::string& str() const { return path; }
    } f;
    f.path = (std::filesystem::is_directory("/dev/shm")
                  ? std::string("/dev/shm")
                  : std::filesystem::temp_directory_path().string()) +
             "/edb-damage-" + std::to_string(::getpid()) + ".edb";
    const Bytes& head = demo();
    StoreBuilder far;
    Page& mb = far.page(far.addPage(21));
    writeMailboxRecord(mb, 60, 1, makeId(0x7700), u"Far Box");
    addFolderPages(far, {{makeId(0x7701), makeId(0x7700), u"Far Inbox", u"IPF.Note"}});
    const Bytes tail = far.bytes();
    const std::uint64_t at = (std::uint64_t{1} << 32) + 3 * kPage;
    {
        std::ofstream out(f.str(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(head.data()),
                  static_cast<std::streamsize>(head.size()));
        out.seekp(static_cast<std::streamoff>(at));
        out.write(reinterpret_cast<const char*>(tail.data()),
                  static_cast<std::streamsize>(tail.size()));
        ASSERT_TRUE(out.good());
    }
    const auto s = scanFile(f.str());
    EXPECT_EQ(s->result.outcome, ScanOutcome::Complete);
    EXPECT_EQ(s->cat.mailboxList.size(), 4u);
    EXPECT_TRUE(
        s->folders.count(ToHex(makeId(0x7700)) + "/" + ToHex(makeId(0x7701)) + "/Far Inbox"));
    EXPECT_TRUE(subset(demoScan().messages, s->messages));
}
