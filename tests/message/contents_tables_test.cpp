#include "decode/contents_tables.h"
#include "io/text.h"
#include "tests/support/contents_records.h"
#include "tests/support/store_builder.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using edb::FolderId;
using edbtest::MessageSpec;
using edbtest::Page;
using edbtest::StoreBuilder;

constexpr FolderId kFolder{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1B, 0x24};
constexpr FolderId kOtherFolder{0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x0A, 0x05};
constexpr FolderId kMessage{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x77, 0x01};
constexpr FolderId kMailbox{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09};

edb::ByteView view(const Page& p) {
    return {p.bytes().data(), p.bytes().size()};
}

// A built store written to disk and opened the way the scan opens it.
struct OpenedStore {
    explicit OpenedStore(const StoreBuilder& sb, std::uint64_t size = UINT64_MAX) {
        sb.writeTo(file.path(), size);
        EXPECT_TRUE(catalog.storeFile.Open(file.str()));
        catalog.storeSize = catalog.storeFile.GetLength();
    }
    edbtest::TempFile file;
    edb::StoreCatalog catalog;
};

std::vector<std::uint64_t> positionsOf(std::initializer_list<std::size_t> fileIndices) {
    std::vector<std::uint64_t> out;
    for (const std::size_t k : fileIndices) {
        out.push_back(k * 8); // file page k is page number k - 1
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Table names

TEST(ContentsTableName, FollowsTheFolderIdBytes) {
    EXPECT_EQ(edb::ContentsTableName(kFolder), "1-1B24");
    EXPECT_EQ(edb::ContentsTableName(kOtherFolder), "1-10A05");
    EXPECT_EQ(edb::ContentsTableName({0x01, 0, 0, 0, 0, 0, 0, 0x05}), "1-5");
    // A zero inside the tail is "00", a small byte after the first one gets its leading 0.
    EXPECT_EQ(edb::ContentsTableName({0x01, 0, 0, 0, 0x01, 0, 0x0F, 0}), "1-1000F00");
    // Both leading bytes, in upper case.
    EXPECT_EQ(edb::ContentsTableName({0xab, 0x0c, 0, 0, 0, 0, 0, 0xfe}), "ABC-FE");
}

TEST(ContentsTableName, AllZeroTailRepeatsTheWholeId) {
    // No non-zero byte among b2..b7: the tail starts again at b0.
    EXPECT_EQ(edb::ContentsTableName({0x01, 0, 0, 0, 0, 0, 0, 0}), "1-100000000000000");
    EXPECT_EQ(edb::ContentsTableName({0, 0x02, 0, 0, 0, 0, 0, 0}), "2-0002000000000000");
}

TEST(ContentsTableName, EmptyWithoutLeadingBytes) {
    EXPECT_EQ(edb::ContentsTableName({0, 0, 1, 2, 3, 4, 5, 6}), "");
}

// ---------------------------------------------------------------------------------------------
// Catalog rows

class FindFolderTablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        sb.addPage(0); // file header
    }
    // A one-page table: root at a new page that carries `objectId`.
    std::size_t addRoot(std::uint32_t objectId) { return sb.addPage(objectId); }
    void addFolder(edb::StoreCatalog& c, const FolderId& id, char kind = 0) {
        ASSERT_TRUE(c.folderList.AddFolder(kMailbox, id, "Inbox " + edb::ToHex(id), kind));
    }

    StoreBuilder sb;
};

TEST_F(FindFolderTablesTest, MatchesRowAndCollectsTablePages) {
    const auto table = edbtest::addContentsTable(sb, kFolder, 0x41, {{kMessage, "Hi", "Ann", 1}});
    OpenedStore s(sb);
    addFolder(s.catalog, kFolder, edb::kKindContact);

    EXPECT_TRUE(edb::FindFolderTables(s.catalog, view(sb.page(table.catalogPage))));
    EXPECT_TRUE(s.catalog.folderList.begin()->tableFound);
    const auto& tables = s.catalog.folderTables.entries();
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].folderId, kFolder);
    EXPECT_EQ(tables[0].tableObjectId, 0x41u);
    EXPECT_EQ(tables[0].kind, edb::kKindContact);
    EXPECT_EQ(tables[0].pages.values(), positionsOf({table.rootPage, table.leafPages[0]}));
}

TEST_F(FindFolderTablesTest, RejectsRowsWithWrongLengthOrZeroObjectId) {
    const std::size_t root = addRoot(0x43);
    Page& cat = sb.page(sb.addPage(2));
    edbtest::writeCatalogRow(cat, 100, 0x41, static_cast<std::uint32_t>(root - 1), "1-1B24");
    cat.u8(100 - 4, 7); // length byte off by one
    edbtest::writeCatalogRow(cat, 200, 0, static_cast<std::uint32_t>(root - 1), "1-1B24");
    edbtest::writeCatalogRow(cat, 300, 0x43, static_cast<std::uint32_t>(root - 1), "1-1B24");
    edbtest::writeCatalogRow(cat, 400, 0x44, static_cast<std::uint32_t>(root - 1), "1-1B24");
    OpenedStore s(sb);
    addFolder(s.catalog, kFolder);

    EXPECT_TRUE(edb::FindFolderTables(s.catalog, view(cat)));
    const auto& tables = s.catalog.folderTables.entries();
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].tableObjectId, 0x43u); // the first row that fits, not a later one
    EXPECT_EQ(tables[0].pages.values(), positionsOf({root}));
}

TEST_F(FindFolderTablesTest, RootOutsideTheStoreOrOfAnotherOwnerStillAddsTable) {
    const std::size_t foreign = sb.addPage(0x99);
    Page& cat = sb.page(sb.addPage(2));
    edbtest::writeCatalogRow(cat, 100, 0x41, 5000, "1-1B24");
    edbtest::writeCatalogRow(cat, 200, 0x42, static_cast<std::uint32_t>(foreign - 1), "1-10A05");
    OpenedStore s(sb);
    addFolder(s.catalog, kFolder);
    addFolder(s.catalog, kOtherFolder);

    EXPECT_TRUE(edb::FindFolderTables(s.catalog, view(cat)));
    const auto& tables = s.catalog.folderTables.entries();
    ASSERT_EQ(tables.size(), 2u);
    for (const auto& t : tables) {
        EXPECT_TRUE(t.pages.empty());
    }
    for (const auto& f : s.catalog.folderList) {
        EXPECT_TRUE(f.tableFound);
    }
}

TEST_F(FindFolderTablesTest, TablesFollowFolderOrderAndUnmatchedFoldersWait) {
    const std::size_t rootA = addRoot(0x41);
    const std::size_t rootB = addRoot(0x42);
    const std::size_t firstAt = sb.addPage(2);
    const std::size_t laterAt = sb.addPage(2);
    const std::size_t noneAt = sb.addPage(2);
    Page& first = sb.page(firstAt);
    Page& later = sb.page(laterAt);
    Page& none = sb.page(noneAt);
    // Rows in the opposite order of the folders.
    edbtest::writeCatalogRow(first, 100, 0x42, static_cast<std::uint32_t>(rootB - 1), "1-10A05");
    edbtest::writeCatalogRow(first, 200, 0x41, static_cast<std::uint32_t>(rootA - 1), "1-1B24");
    const FolderId third{0x01, 0, 0, 0, 0, 0, 0, 0x05};
    edbtest::writeCatalogRow(later, 100, 0x45, static_cast<std::uint32_t>(rootA - 1), "1-5");
    edbtest::writeCatalogRow(later, 200, 0x46, static_cast<std::uint32_t>(rootB - 1), "1-1B24");
    none.ascii(100, "no rows here");
    OpenedStore s(sb);
    addFolder(s.catalog, kFolder);
    addFolder(s.catalog, third);
    addFolder(s.catalog, kOtherFolder);

    EXPECT_FALSE(edb::FindFolderTables(s.catalog, view(none)));
    EXPECT_TRUE(edb::FindFolderTables(s.catalog, view(first)));
    EXPECT_TRUE(edb::FindFolderTables(s.catalog, view(later)));

    const auto& tables = s.catalog.folderTables.entries();
    ASSERT_EQ(tables.size(), 3u);
    EXPECT_EQ(tables[0].folderId, kFolder);
    EXPECT_EQ(tables[1].folderId, kOtherFolder);
    EXPECT_EQ(tables[2].folderId, third); // waited for the later page
    EXPECT_EQ(tables[2].tableObjectId, 0x45u);
    // kFolder was not tried again on the later page, so its 0x46 row is unused.
    EXPECT_EQ(tables[0].tableObjectId, 0x41u);
}

TEST_F(FindFolderTablesTest, CandidateWithoutUsableRowStillCounts) {
    Page& cat = sb.page(sb.addPage(2));
    cat.put(10, {0x80, 'x', 'y', 'z', '-'});
    OpenedStore s(sb);
    addFolder(s.catalog, kFolder);
    EXPECT_TRUE(edb::FindFolderTables(s.catalog, view(cat)));
    EXPECT_TRUE(s.catalog.folderTables.entries().empty());
    EXPECT_FALSE(s.catalog.folderList.begin()->tableFound);
}

TEST_F(FindFolderTablesTest, PatternAtPageEdgesIsSafe) {
    // 0x80 in the last bytes, and a row whose fields would start before the page.
    std::vector<std::uint8_t> bytes(40, 0);
    bytes[0] = 0x80;
    bytes[4] = '-';
    bytes[38] = 0x80;
    OpenedStore s(sb);
    addFolder(s.catalog, kFolder);
    EXPECT_TRUE(edb::FindFolderTables(s.catalog, {bytes.data(), bytes.size()}));
    EXPECT_TRUE(s.catalog.folderTables.entries().empty());
}

// ---------------------------------------------------------------------------------------------
// Table page walks

class CollectTablePagesTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t kObject = 0x55;
    void SetUp() override { sb.addPage(0); }
    std::size_t table() { return sb.addPage(kObject); }
    static std::uint32_t number(std::size_t fileIndex) {
        return static_cast<std::uint32_t>(fileIndex - 1);
    }
    std::vector<std::uint64_t> collect(std::size_t root, bool* result = nullptr) {
        OpenedStore s(sb);
        edb::OffsetList working;
        working.AddOffset(12345); // emptied first
        const bool r = edb::CollectTablePages(s.catalog, kObject, root * 8, working);
        if (result != nullptr) {
            *result = r;
        }
        return working.values();
    }

    StoreBuilder sb;
};

TEST_F(CollectTablePagesTest, ChildrenThenBackwardAndForwardWalks) {
    const std::size_t root = table();
    const std::size_t a = table();
    const std::size_t b = table();
    const std::size_t c = table();
    const std::size_t d = table();
    edbtest::writeChildList(sb.page(root), {number(b), number(c)});
    edbtest::chainPages(sb, {a, b, c, d});

    bool result = false;
    // Children first; then back from b to the chain's head a, and forward adds a and d.
    EXPECT_EQ(collect(root, &result), positionsOf({root, b, c, a, d}));
    EXPECT_TRUE(result);
}

TEST_F(CollectTablePagesTest, ResultIsThatOfTheLastInsertion) {
    const std::size_t root = table();
    const std::size_t a = table();
    const std::size_t b = table();
    edbtest::writeChildList(sb.page(root), {number(a), number(b)});
    edbtest::chainPages(sb, {a, b});
    bool result = true;
    EXPECT_EQ(collect(root, &result), positionsOf({root, a, b}));
    EXPECT_FALSE(result); // the forward walk only met pages already listed
}

TEST_F(CollectTablePagesTest, ChildListStopsAtForeignOrOutsidePage) {
    const std::size_t root = table();
    const std::size_t a = table();
    const std::size_t foreign = sb.addPage(0x56);
    const std::size_t b = table();
    edbtest::writeChildList(sb.page(root), {number(a), number(foreign), number(b)});
    EXPECT_EQ(collect(root), positionsOf({root, a}));

    edbtest::writeChildList(sb.page(root), {number(a), 900, number(b)});
    EXPECT_EQ(collect(root), positionsOf({root, a}));

    // A child listed twice ends the list.
    edbtest::writeChildList(sb.page(root), {number(a), number(a), number(b)});
    EXPECT_EQ(collect(root), positionsOf({root, a}));
}

TEST_F(CollectTablePagesTest, FirstChildZeroWalksFromPageZero) {
    const std::size_t pageZero = table(); // file page 1
    const std::size_t root = table();
    const std::size_t after = table();
    sb.page(pageZero).next(number(after));
    EXPECT_EQ(collect(root), positionsOf({root, pageZero, after}));

    sb.page(pageZero).owner(0x56);
    EXPECT_EQ(collect(root), positionsOf({root}));
}

TEST_F(CollectTablePagesTest, BackwardWalkStopsAtForeignPreviousPage) {
    const std::size_t root = table();
    const std::size_t foreign = sb.addPage(0x56);
    const std::size_t a = table();
    const std::size_t b = table();
    edbtest::writeChildList(sb.page(root), {number(a)});
    edbtest::chainPages(sb, {a, b});
    sb.page(a).previous(number(foreign));
    // The backward walk ends on the foreign page, so the forward walk adds nothing.
    EXPECT_EQ(collect(root), positionsOf({root, a}));
}

TEST_F(CollectTablePagesTest, LoopsInEitherChainEnd) {
    const std::size_t root = table();
    const std::size_t a = table();
    const std::size_t b = table();
    const std::size_t c = table();
    edbtest::writeChildList(sb.page(root), {number(b)});
    // previous: b -> a -> c -> a ...; next: a -> b -> c -> a ...
    sb.page(a).previous(number(c)).next(number(b));
    sb.page(b).previous(number(a)).next(number(c));
    sb.page(c).previous(number(a)).next(number(a));
    EXPECT_EQ(collect(root), positionsOf({root, b, a, c}));

    // A page that is its own next.
    sb.page(a).previous(0).next(number(a));
    EXPECT_EQ(collect(root), positionsOf({root, b, a}));
}

TEST_F(CollectTablePagesTest, RootInLastShortPage) {
    const std::size_t a = table();
    const std::size_t root = table();
    edbtest::writeChildList(sb.page(root), {number(a)});
    const std::uint64_t cut = edbtest::StoreBuilder::offsetOf(root) + 80; // child at 73 fits
    OpenedStore s(sb, cut);
    edb::OffsetList working;
    edb::CollectTablePages(s.catalog, kObject, root * 8, working);
    EXPECT_EQ(working.values(), positionsOf({root, a}));
}

// ---------------------------------------------------------------------------------------------
// Message entries

class ReadMessageEntriesTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t kObject = 0x61;
    void SetUp() override { useTable(kObject); }
    void useTable(std::uint32_t objectId, char kind = 0) {
        catalog.folderTables.clear();
        catalog.folderTables.AddFolderTable(kFolder, objectId, kind, {});
        page = Page();
        page.owner(objectId);
    }
    bool read() { return edb::ReadMessageEntries(catalog, view(page)); }
    const edb::MessageEntry& only() {
        EXPECT_EQ(catalog.messages.size(), 1u);
        return *catalog.messages.begin();
    }

    edb::StoreCatalog catalog;
    Page page;
};

TEST_F(ReadMessageEntriesTest, FullRecord) {
    useTable(kObject, edb::kKindAppointment);
    const std::uint64_t filetime = 0x01C2D345FC5DB9A7; // low bytes non-zero: kept whole
    edbtest::writeContentsRecord(page, 100, kFolder, {kMessage, "RE: Budget", "Ann Lee", filetime});
    EXPECT_TRUE(read());
    const auto& m = only();
    EXPECT_EQ(m.folderId, kFolder);
    EXPECT_EQ(m.messageId, kMessage);
    EXPECT_EQ(m.subject, "RE: Budget");
    EXPECT_EQ(m.sender, "Ann Lee");
    EXPECT_EQ(m.filetime, filetime);
    EXPECT_EQ(m.kind, edb::kKindAppointment);
}

TEST_F(ReadMessageEntriesTest, NothingForUnknownOwnerOrMissingFolderId) {
    edbtest::writeContentsRecord(page, 100, kFolder, {kMessage, "x", "y", 1});
    page.owner(0);
    EXPECT_FALSE(read());
    page.owner(0x62);
    EXPECT_FALSE(read());
    useTable(kObject);
    EXPECT_FALSE(read()); // empty page of the right owner
    EXPECT_EQ(catalog.messages.size(), 0u);
}

TEST_F(ReadMessageEntriesTest, CyrillicTextsSurvive) {
    edbtest::writeContentsRecord(page, 100, kFolder, {kMessage, "Отчёт за март", "Иван Петров", 7});
    EXPECT_TRUE(read());
    EXPECT_EQ(only().subject, "Отчёт за март");
    EXPECT_EQ(only().sender, "Иван Петров");
}

TEST_F(ReadMessageEntriesTest, SubjectFromSecondPassAlone) {
    const std::size_t x = 100;
    const std::size_t b = x + 33;
    edbtest::writeRecordIds(page, x, kFolder, kMessage, 1);
    page.tag(b, 0x011A, 12).tag(b + 4, 0x0124, 22).tag(b + 8, 0x0130, 30);
    page.utf16(b + 12, u"Hello").utf16(b + 22, u"Tail");
    EXPECT_TRUE(read());
    EXPECT_EQ(only().subject, "Hello");
}

TEST_F(ReadMessageEntriesTest, SubjectEmptyWithoutBothColumns) {
    const std::size_t b = 100 + 33;
    edbtest::writeRecordIds(page, 100, kFolder, kMessage, 1);
    page.tag(b, 0x0119, 8).tag(b + 4, 0x0130, 18);
    page.utf16(b + 8, u"Lonely");
    EXPECT_TRUE(read());
    EXPECT_EQ(only().subject, "");
}

TEST_F(ReadMessageEntriesTest, TableNinetyNineKeepsOneCharacterOfSecondPiece) {
    useTable(99);
    edbtest::writeContentsRecord(page, 100, kFolder, {kMessage, "RE: Budget", "", 1});
    EXPECT_TRUE(read());
    EXPECT_EQ(only().subject, "RE: ");
}

// Pass 1 with 0x011A at 0x20 and the next entry at `next`; the value is 300 letters.
void writeLongSubject(Page& page, std::uint16_t next) {
    const std::size_t b = 100 + 33;
    edbtest::writeRecordIds(page, 100, kFolder, kMessage, 1);
    page.tag(b, 0x0119, 0x18).tag(b + 4, 0x011A, 0x20).tag(b + 8, 0x0124, next);
    page.utf16(b + 0x18, u"RE: ");
    page.utf16(b + 0x20, std::u16string(300, u'a'));
}

TEST_F(ReadMessageEntriesTest, HighNibbleOneOrTwoAddsItsWeight) {
    writeLongSubject(page, 0x120); // 256 bytes: 128 units
    EXPECT_TRUE(read());
    EXPECT_EQ(only().subject, "RE: " + std::string(128, 'a'));
}

TEST_F(ReadMessageEntriesTest, HighNibbleThreeAddsLessThanItsWeight) {
    writeLongSubject(page, 0x320); // 3 + 510 bytes: 256 units, not 384
    EXPECT_TRUE(read());
    EXPECT_EQ(only().subject, "RE: " + std::string(256, 'a'));
}

// Pass 1: `a` from 0x0119 just before 16, then 0x011A's value from 16, by default with room
// for 12 units.
void writeTwoPieces(Page& page, std::u16string_view a, std::u16string_view second,
                    std::uint16_t secondEnd = 40) {
    const std::size_t b = 100 + 33;
    edbtest::writeRecordIds(page, 100, kFolder, kMessage, 1);
    page.tag(b, 0x0119, static_cast<std::uint16_t>(16 - 2 * a.size()));
    page.tag(b + 4, 0x011A, 16).tag(b + 8, 0x0124, secondEnd);
    page.utf16(b + 16 - 2 * a.size(), a);
    page.utf16(b + 16, second);
}

TEST_F(ReadMessageEntriesTest, SecondPieceStopDropsOneCharacter) {
    writeTwoPieces(page, u"AB", u"cdef\u0002gh");
    EXPECT_TRUE(read());
    EXPECT_EQ(only().subject, "ABcde");
}

TEST_F(ReadMessageEntriesTest, SecondPieceMarkerDropsTwoCharacters) {
    writeTwoPieces(page, u"AB", u"cdef\u3C01gh");
    EXPECT_TRUE(read());
    EXPECT_EQ(only().subject, "ABcd");
}

TEST_F(ReadMessageEntriesTest, SecondPieceMarkerKeepsShortBuffer) {
    writeTwoPieces(page, u"", u"xy\u3C01");
    EXPECT_TRUE(read());
    EXPECT_EQ(only().subject, "xy");
}

TEST_F(ReadMessageEntriesTest, SecondPieceStartingPastThePageReadsAsZero) {
    // A record at the page's end whose subject value starts past it: its first unit reads as 0,
    // a stop, which drops the last character of the first piece.
    const std::size_t x = edbtest::kPage - 200;
    const std::size_t b = x + 33;
    edbtest::writeRecordIds(page, x, kFolder, kMessage, 1);
    page.tag(b, edbtest::kColumnSubjectPrefix, 0x10).tag(b + 4, edbtest::kColumnSubject, 0x118);
    page.tag(b + 8, edbtest::kColumnAfterSubject, 0x128);
    ASSERT_GT(b + 0x118, edbtest::kPage);
    page.utf16(b + 0x10, u"R\u00E9f ");
    EXPECT_TRUE(read());
    EXPECT_EQ(only().subject, "R\xC3\xA9"
                              "f");
}

TEST_F(ReadMessageEntriesTest, FirstPieceStopsWithoutDropping) {
    writeTwoPieces(page, u"A\u0001", u"cd", 20); // the second piece ends by its length
    EXPECT_TRUE(read());
    EXPECT_EQ(only().subject, "Acd");
}

TEST_F(ReadMessageEntriesTest, SubjectColumnBeforeSenderLeavesNoSender) {
    const std::size_t b = 100 + 33;
    edbtest::writeRecordIds(page, 100, kFolder, kMessage, 1);
    page.tag(b, 0x0119, 12).tag(b + 4, 0x0108, 12).tag(b + 8, 0x0130, 20);
    page.utf16(b + 12, u"Ann");
    EXPECT_TRUE(read());
    EXPECT_EQ(only().sender, "");
}

TEST_F(ReadMessageEntriesTest, SenderOffsetIsItsLowByteAlone) {
    const std::size_t b = 100 + 33;
    edbtest::writeRecordIds(page, 100, kFolder, kMessage, 1);
    // 0x010C with flag bits and a high nibble: the value is read at b + 0x0C.
    page.tag(b, 0x010C, 0x10C, /*flags=*/0x8).tag(b + 4, 0x0130, 0x114);
    page.utf16(b + 0x0C, u"Bob!");
    EXPECT_TRUE(read());
    EXPECT_EQ(only().sender, "Bob!");
}

TEST_F(ReadMessageEntriesTest, SenderStopsAtLowByteOne) {
    edbtest::writeContentsRecord(page, 100, kFolder, {kMessage, "s", "Ab\u0101cd", 1});
    EXPECT_TRUE(read());
    EXPECT_EQ(only().sender, "Ab");
}

TEST_F(ReadMessageEntriesTest, DuplicateRecordRefreshesFiletime) {
    edbtest::writeContentsRecord(page, 100, kFolder, {kMessage, "Same", "Ann", 0x0102030405060708});
    EXPECT_TRUE(read());
    edbtest::writeRecordIds(page, 100, kFolder, kMessage, 0x0A0B0C0D0E0F1011);
    EXPECT_TRUE(read());
    EXPECT_EQ(only().filetime, 0x0A0B0C0D0E0F1011u);
}

TEST_F(ReadMessageEntriesTest, SameIdsDifferentSubjectsGiveTwoEntries) {
    std::size_t at = edbtest::writeContentsRecord(page, 100, kFolder, {kMessage, "One", "Ann", 1});
    edbtest::writeContentsRecord(page, at + 40, kFolder, {kMessage, "Two", "Ann", 2});
    EXPECT_TRUE(read());
    ASSERT_EQ(catalog.messages.size(), 2u);
    auto it = catalog.messages.begin();
    EXPECT_EQ(it->subject, "One");
    ++it;
    EXPECT_EQ(it->subject, "Two");
}

TEST_F(ReadMessageEntriesTest, RecordsAtPageEdgesReadZeros) {
    // Folder id at 4: the FILETIME would start before the page; at the very end: no tags.
    page.put(4, std::vector<std::uint8_t>(kFolder.begin(), kFolder.end()));
    page.put(edbtest::kPage - 8, std::vector<std::uint8_t>(kFolder.begin(), kFolder.end()));
    page.owner(kObject);
    EXPECT_TRUE(read());
    EXPECT_EQ(catalog.messages.size(), 2u);
    for (const auto& m : catalog.messages) {
        EXPECT_EQ(m.subject, "");
        EXPECT_EQ(m.sender, "");
    }
}

TEST(ContentsRecordBuilder, EveryFittingLengthReadsBack) {
    // The builder's record layout against the decoder's length rules, across the 256-byte
    // steps of the subject's end offset.
    std::size_t fitting = 0;
    for (std::size_t senderLength : {0, 1, 30, 110}) {
        for (std::size_t subjectLength = 0; subjectLength < 400; ++subjectLength) {
            MessageSpec m{kMessage, "RE: " + std::string(subjectLength, 's'),
                          std::string(senderLength, 'f'), 42};
            if (!edbtest::recordFits(m)) {
                EXPECT_THROW(
                    edbtest::writeContentsRecord(*std::make_unique<Page>(), 100, kFolder, m),
                    std::invalid_argument);
                continue;
            }
            ++fitting;
            edb::StoreCatalog catalog;
            catalog.folderTables.AddFolderTable(kFolder, 0x61, 0, {});
            Page page;
            page.owner(0x61);
            edbtest::writeContentsRecord(page, 100, kFolder, m);
            ASSERT_TRUE(edb::ReadMessageEntries(catalog, view(page)));
            ASSERT_EQ(catalog.messages.size(), 1u);
            EXPECT_EQ(catalog.messages.begin()->subject, m.subject) << subjectLength;
            EXPECT_EQ(catalog.messages.begin()->sender, m.sender) << senderLength;
        }
    }
    EXPECT_GT(fitting, 600u);
}

TEST(ContentsTablesHostileBytes, RandomPagesAndChains) {
    // Random bytes seeded with the patterns the readers look for: every read stays in bounds
    // (checked under the sanitizer build) and every walk ends.
    std::mt19937 rng(7);
    StoreBuilder sb;
    for (int k = 0; k < 24; ++k) {
        Page& p = sb.page(static_cast<std::size_t>(k));
        for (auto& b : p.bytes()) {
            b = static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() : rng() % 3);
        }
        for (int r = 0; r < 40; ++r) {
            const std::size_t at = rng() % (edbtest::kPage - 8);
            switch (rng() % 4) {
            case 0:
                p.put(at, std::vector<std::uint8_t>(kFolder.begin(), kFolder.end()));
                break;
            case 1:
                p.put(at, {0x80, '1', '-', '1', 'B'});
                break;
            case 2:
                p.put(at, {0x1A, 0x01, static_cast<std::uint8_t>(rng()), 0x0F});
                break;
            default:
                p.u32le(at, static_cast<std::uint32_t>(rng() % 30));
                break;
            }
        }
        p.owner(0x61).previous(static_cast<std::uint32_t>(rng() % 30));
        p.next(static_cast<std::uint32_t>(rng() % 30));
    }
    OpenedStore s(sb, sb.pageCount() * edbtest::kPage - 1000);
    ASSERT_TRUE(s.catalog.folderList.AddFolder(kMailbox, kFolder, "Inbox", 0));
    for (std::size_t k = 0; k < sb.pageCount(); ++k) {
        edb::FindFolderTables(s.catalog, view(sb.page(k)));
        edb::OffsetList working;
        edb::CollectTablePages(s.catalog, 0x61, k * 8, working);
        EXPECT_LE(working.size(), sb.pageCount() * 2 + 1);
    }
    s.catalog.folderTables.AddFolderTable(kFolder, 0x61, 0, {});
    for (std::size_t k = 0; k < sb.pageCount(); ++k) {
        const auto& bytes = sb.page(k).bytes();
        for (const std::size_t n : {bytes.size(), std::size_t{100}, std::size_t{7}}) {
            edb::ReadMessageEntries(s.catalog, {bytes.data(), n});
        }
    }
    EXPECT_GT(s.catalog.messages.size(), 0u);
    for (const auto& m : s.catalog.messages) {
        EXPECT_LE(edb::Utf16Length(m.subject), 1000u);
        EXPECT_LE(edb::Utf16Length(m.sender), 300u);
    }
}

// ---------------------------------------------------------------------------------------------
// Both stages over a built table

TEST(ContentsTableStages, ManyMessagesOverManyPages) {
    StoreBuilder sb;
    sb.addPage(0);
    std::vector<MessageSpec> messages;
    for (std::uint32_t k = 0; k < 12000; ++k) {
        FolderId id = kMessage;
        id[4] = static_cast<std::uint8_t>(k >> 8);
        id[5] = static_cast<std::uint8_t>(k);
        messages.push_back({id, "RE: Item " + std::to_string(k), "Sender " + std::to_string(k),
                            0x01C2000000000000ULL + k});
    }
    const auto table = edbtest::addContentsTable(sb, kFolder, 0x70, messages);
    ASSERT_GT(table.leafPages.size(), edbtest::kMaxChildren); // the chain reaches the rest
    OpenedStore s(sb);
    ASSERT_TRUE(s.catalog.folderList.AddFolder(kMailbox, kFolder, "Inbox", 0));
    ASSERT_TRUE(edb::FindFolderTables(s.catalog, view(sb.page(table.catalogPage))));
    const auto& t = s.catalog.folderTables.entries().at(0);
    ASSERT_EQ(t.pages.size(), table.leafPages.size() + 1);
    std::vector<std::uint8_t> buf(edb::kPageSize);
    for (const std::uint64_t v : t.pages.values()) {
        const std::size_t n =
            edb::ReadPage(s.catalog.storeFile, s.catalog.storeSize, v * 512, buf.data());
        edb::ReadMessageEntries(s.catalog, {buf.data(), n});
    }
    ASSERT_EQ(s.catalog.messages.size(), messages.size());
    std::size_t k = 0;
    for (const auto& m : s.catalog.messages) {
        EXPECT_EQ(m.messageId, messages[k].messageId);
        EXPECT_EQ(m.subject, messages[k].subject);
        EXPECT_EQ(m.sender, messages[k].sender);
        EXPECT_EQ(m.filetime, messages[k].filetime);
        ++k;
    }
}

} // namespace
