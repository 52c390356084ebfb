// Files that hold no mailbox say why, the same in the window's words and edb2eml's: each file is
// made here byte by byte, scanned for real, and edb2eml run on it (exit status 2 every time).
#include "frontend/scan_texts.h"
#include "frontend/store_file_texts.h"
#include "scan/scan.h"
#include "tests/cli/run_cli.h"
#include "tests/support/store_builder.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace edb;
using edbtest::kPage;

namespace {

struct QuietHost : ScanHost {
    void progress(std::int64_t) override {}
    void mailboxRowsReady(const std::vector<std::string>&) override {}
};

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A database file header as the engine writes it, pages of `pageSize` bytes, `pages` in all.
std::vector<std::uint8_t> eseFile(std::uint32_t pageSize, std::size_t pages) {
    std::vector<std::uint8_t> b(std::size_t{pageSize} * pages, 0);
    const auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    };
    put32(4, 0x89ABCDEF); // signature
    put32(8, 0x620);      // file format version
    put32(12, 0);         // file type: database
    put32(232, 0x14);     // format revision of a later engine
    put32(236, pageSize); // page size
    return b;
}

// The header's checksum set as the engine sets it: the seed 0x89ABCDEF XOR every 32-bit word
// of the first 4096 bytes after the checksum field.
void sealHeader(std::vector<std::uint8_t>& b) {
    std::uint32_t sum = 0x89ABCDEF;
    for (std::size_t at = 4; at + 4 <= kPage; at += 4) {
        sum ^= static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) |
               static_cast<std::uint32_t>(b[at + 3]) << 24;
    }
    for (int i = 0; i < 4; ++i) {
        b[i] = static_cast<std::uint8_t>(sum >> (8 * i));
    }
}

// A healthy database of the engine's with 4096-byte pages whose objects happen to carry the
// numbers of a store's page kinds (folders 8, properties 19, mailboxes 21): no mailbox in it.
std::vector<std::uint8_t> otherDatabase() {
    std::vector<std::uint8_t> b = eseFile(4096, 1);
    sealHeader(b);
    edbtest::StoreBuilder rest;
    rest.addPage(0);
    for (const std::uint32_t owner : {kOwnerFolders, kOwnerProperties, kOwnerMailboxes}) {
        rest.page(rest.addPage(owner)).ascii(200, "a row of some other program's table");
    }
    const std::vector<std::uint8_t> pages = rest.bytes();
    b.insert(b.end(), pages.begin() + kPage, pages.end());
    return b;
}

struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    NoMailboxReason reason;
    std::vector<std::string> words; // all in the text
};

std::vector<Case> cases() {
    std::vector<Case> c;
    c.push_back({"empty", {}, NoMailboxReason::Empty, {"is empty", "no mailbox"}});
    c.push_back({"short", std::vector<std::uint8_t>(100, 'x'), NoMailboxReason::TooShort,
                 {"too short to hold one 4096-byte page (100 bytes)"}});
    std::vector<std::uint8_t> text;
    for (std::size_t i = 0; text.size() < 3 * kPage; ++i) {
        const std::string line = "line " + std::to_string(i) + " of a plain text file\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    c.push_back({"text", text, NoMailboxReason::NotEse, {"not an ESE database"}});
    c.push_back({"srudb-like", eseFile(32768, 4), NoMailboxReason::OtherPageSize,
                 {"ESE database with 32768-byte pages", "not an Exchange store"}});
    c.push_back({"ese-4k", eseFile(4096, 6), NoMailboxReason::OtherEseKind,
                 {"an ESE database, but not an Exchange store (no mailbox found): "}});
    c.push_back({"ese-4k-healthy", otherDatabase(), NoMailboxReason::OtherEseKind,
                 {"an ESE database, but not an Exchange store (no mailbox found): "}});
    // A store whose mailbox pages are gone: folder pages without a mailbox.
    edbtest::StoreBuilder damaged;
    damaged.addPage(0);
    damaged.addPage(kOwnerFolders);
    damaged.addPage(kOwnerProperties);
    c.push_back({"damaged", damaged.bytes(), NoMailboxReason::Damaged, {kNoMailboxText}});
    return c;
}

TEST(NoMailboxFile, EachKindOfFileSaysWhy) {
    for (const Case& k : cases()) {
        SCOPED_TRACE(k.name);
        edbtest::TempFile file(k.name, ".edb");
        writeBytes(file.str(), k.bytes);
        StoreCatalog catalog;
        QuietHost host;
        const ScanResult r = RunScan(catalog, file.str(), host);
        ASSERT_EQ(r.outcome, ScanOutcome::NoMailbox);
        const NoMailboxFacts facts = ExamineNoMailboxFile(file.str(), catalog.recordedPageCount);
        EXPECT_EQ(facts.reason, k.reason);
        const std::string text = NoMailboxText(file.str(), facts);
        for (const std::string& w : k.words) {
            EXPECT_NE(text.find(w), std::string::npos) << text;
        }
        if (k.reason != NoMailboxReason::Damaged) {
            EXPECT_NE(text.find(file.str()), std::string::npos) << text; // names the file
        }
#ifdef EDB2EML_PATH
        const clitest::Outcome cli = clitest::runEdb2eml("", "'" + file.str() + "'", " 2>&1");
        EXPECT_EQ(cli.status, 2);
        EXPECT_NE(cli.out.find(text), std::string::npos) << cli.out;
#endif
    }
}

TEST(NoMailboxFile, AHeaderWithAStoresPageSizeButStorePagesIsADamagedStore) {
    // The header says 4096-byte pages and store pages follow: damage, not another kind.
    std::vector<std::uint8_t> b = eseFile(4096, 1);
    edbtest::StoreBuilder rest;
    rest.addPage(0);
    rest.addPage(kOwnerFolders);
    const std::vector<std::uint8_t> pages = rest.bytes();
    b.insert(b.end(), pages.begin() + kPage, pages.end());
    edbtest::TempFile file("header", ".edb");
    writeBytes(file.str(), b);
    EXPECT_EQ(NoMailboxText(file.str(), 1), kNoMailboxText);
    EXPECT_EQ(ExamineNoMailboxFile(file.str(), 0).reason, NoMailboxReason::OtherEseKind);
    // The same pages behind a whole header: damage still, once the store's own tables were
    // seen; another kind of database without them.
    std::vector<std::uint8_t> sealed = b;
    sealHeader(sealed);
    writeBytes(file.str(), sealed);
    EXPECT_EQ(ExamineNoMailboxFile(file.str(), 1, true).reason, NoMailboxReason::Damaged);
    EXPECT_EQ(ExamineNoMailboxFile(file.str(), 1, false).reason, NoMailboxReason::OtherEseKind);
    EXPECT_EQ(ExamineNoMailboxFile(file.str() + ".gone", 0).reason, NoMailboxReason::Unreadable);
}

} // namespace
