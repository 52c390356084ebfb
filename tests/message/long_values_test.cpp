#include "decode/long_values.h"
#include "decode/properties.h"
#include "catalog/catalog.h"
#include "tests/support/properties_records.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using edbtest::AttachmentSpec;
using edbtest::Id8;
using edbtest::Page;

const Id8 kFolder = edbtest::makeId(0x500);

edb::MessageEntry& addMessage(edb::StoreCatalog& catalog, std::uint64_t n,
                              std::optional<std::uint16_t> primary = {},
                              std::optional<std::uint16_t> formatted = {}) {
    catalog.messages.AddMessage(kFolder, edbtest::makeId(n), "S" + std::to_string(n), "", 0, 0);
    edb::MessageEntry* last = nullptr;
    for (auto& m : catalog.messages) {
        last = &m;
    }
    last->primaryBody.reference = primary;
    last->formattedBody.reference = formatted;
    catalog.messages.markLateIndexesStale();
    return *last;
}

edb::ByteView view(const Page& p) {
    return {p.bytes().data(), p.bytes().size()};
}

std::vector<std::uint64_t> values(const edb::OffsetList& l) {
    return l.values();
}

TEST(MatchLongValueChunks, ModeOneCreditsFirstMessageInListOrder) {
    edb::StoreCatalog catalog;
    edb::MessageEntry& a = addMessage(catalog, 1, 7, {});
    edb::MessageEntry& b = addMessage(catalog, 2, {}, 7);
    edb::MessageEntry& c = addMessage(catalog, 3, 9, 9);
    Page page;
    page.u16le(42, 7).u32be(44, 0);
    EXPECT_TRUE(edb::MatchLongValueChunks(catalog, view(page), 4096, 1));
    EXPECT_EQ(values(a.primaryBody.chunks), std::vector<std::uint64_t>{4096 + 42});
    EXPECT_TRUE(b.formattedBody.chunks.empty());

    // Both bodies carry the reference: the formatted body takes the page.
    page.u16le(42, 9);
    EXPECT_TRUE(edb::MatchLongValueChunks(catalog, view(page), 8192, 1));
    EXPECT_EQ(values(c.formattedBody.chunks), std::vector<std::uint64_t>{8192 + 42});
    EXPECT_TRUE(c.primaryBody.chunks.empty());

    // A chunk offset of 65536 or more puts bits above the 16-bit reference.
    page.u16le(42, 7).u32be(44, 17 * 4014);
    EXPECT_TRUE(edb::MatchLongValueChunks(catalog, view(page), 12288, 1));
    EXPECT_EQ(a.primaryBody.chunks.size(), 1u);
}

TEST(MatchLongValueChunks, ModeTwoOnePositionPerMessage) {
    edb::StoreCatalog catalog;
    edb::MessageEntry& a = addMessage(catalog, 1, {}, 0x0A);
    edb::MessageEntry& b = addMessage(catalog, 2, 0x0B, {});
    edb::MessageEntry& c = addMessage(catalog, 3, 0x0C, 0x0D);
    Page page;
    EXPECT_FALSE(edb::MatchLongValueChunks(catalog, view(page), 0, 2));
    // Markers: B's reference with non-zero upper bytes, A, B, A again, C's primary then its
    // formatted reference.
    std::size_t at = 100;
    auto marker = [&](std::uint16_t ref, std::uint32_t chunkOffset) {
        page.put(at, {0x03, 0x00, 0x05}).u16le(at + 3, ref).u32be(at + 5, chunkOffset);
        at += 40;
        return at - 40 + 3;
    };
    marker(0x0B, 0x00010000);
    const std::size_t a1 = marker(0x0A, 4014);
    const std::size_t b1 = marker(0x0B, 0);
    marker(0x0A, 8028);
    const std::size_t c1 = marker(0x0C, 0);
    marker(0x0D, 0);
    EXPECT_TRUE(edb::MatchLongValueChunks(catalog, view(page), 40960, 2));
    EXPECT_EQ(values(a.formattedBody.chunks), std::vector<std::uint64_t>{40960 + a1});
    EXPECT_EQ(values(b.primaryBody.chunks), std::vector<std::uint64_t>{40960 + b1});
    EXPECT_EQ(values(c.primaryBody.chunks), std::vector<std::uint64_t>{40960 + c1});
    EXPECT_TRUE(c.formattedBody.chunks.empty());
}

TEST(MatchLongValueChunks, ModeTwoValueRunningPastTheBlockReadsZeros) {
    // The block ends at 4096; the bytes after it in memory (0x01) must not be read.
    edb::StoreCatalog catalog;
    edb::MessageEntry& zero = addMessage(catalog, 1, {}, 0);
    edb::MessageEntry& ten = addMessage(catalog, 2, {}, 0x0A);
    std::vector<std::uint8_t> bytes(4100, 0x01);
    std::fill(bytes.begin(), bytes.begin() + 4096, 0);
    auto put = [&](std::size_t at, std::initializer_list<std::uint8_t> v) {
        std::copy(v.begin(), v.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    };
    put(4090, {0x03, 0x00, 0x05, 0x0A, 0x00, 0x00}); // value 0A 00 00 | 00 past the end
    EXPECT_TRUE(edb::MatchLongValueChunks(catalog, edb::ByteView(bytes.data(), 4096), 8192, 2));
    EXPECT_EQ(values(ten.formattedBody.chunks), std::vector<std::uint64_t>{8192 + 4093});
    EXPECT_TRUE(zero.formattedBody.chunks.empty());
    put(4090, {0x03, 0x00, 0x05, 0x00, 0x00, 0x00}); // value 00 00 00 | 00: reference 0
    EXPECT_TRUE(edb::MatchLongValueChunks(catalog, edb::ByteView(bytes.data(), 4096), 8192, 2));
    EXPECT_EQ(values(zero.formattedBody.chunks), std::vector<std::uint64_t>{8192 + 4093});
}

// The worker's order: owner-106 pages in mode 1, then every formatted chunk, appended ones
// included, read 52 bytes early in mode 2.
void runChunkStages(edb::StoreCatalog& catalog) {
    std::vector<std::uint8_t> buf(edb::kPageSize);
    for (std::uint64_t o = 0; o < catalog.storeSize; o += edb::kPageSize) {
        const std::size_t n = edb::ReadPage(catalog.storeFile, catalog.storeSize, o, buf.data());
        if (n >= 28 && edb::ByteView(buf.data(), n).readU32Le(24) == 106u) {
            edb::MatchLongValueChunks(catalog, edb::ByteView(buf.data(), n), o, 1);
        }
    }
    for (auto& m : catalog.messages) {
        for (std::size_t i = 0; i < m.formattedBody.chunks.size(); ++i) {
            const std::uint64_t p = m.formattedBody.chunks.values()[i];
            if (p < 52 || p - 52 >= catalog.storeSize) {
                continue;
            }
            const std::size_t n = catalog.storeFile.ReadAt(p - 52, buf.data(), buf.size());
            edb::MatchLongValueChunks(catalog, edb::ByteView(buf.data(), n), p - 52, 2);
        }
    }
}

TEST(MatchLongValueChunks, ChainWalkFindsTheChunkAfterEachPageStart) {
    edbtest::StoreBuilder store;
    store.addPage(0);
    std::vector<std::uint8_t> formatted(9 * 2000 + 17);
    for (std::size_t i = 0; i < formatted.size(); ++i) {
        formatted[i] = static_cast<std::uint8_t>('a' + i % 26);
    }
    std::vector<std::uint8_t> primary(3 * 4014 + 5, 'p');
    const auto chain = edbtest::addChainedLongValue(store, 106, 0x0222, formatted);
    const auto paged = edbtest::addPagedLongValue(store, 106, 0x0111, primary);
    ASSERT_EQ(chain.size(), 5u);
    ASSERT_EQ(paged.size(), 4u);
    edbtest::TempFile file;
    store.writeTo(file.path());

    edb::StoreCatalog catalog;
    ASSERT_TRUE(catalog.storeFile.Open(file.str()));
    catalog.storeSize = catalog.storeFile.GetLength();
    edb::MessageEntry& m = addMessage(catalog, 1, 0x0111, 0x0222);
    runChunkStages(catalog);

    // The owner-106 pass gives each page's chunk at 42; the walk then adds the chunk after the
    // marker on each of those pages, in walk order. A chunk found by the walk finds itself
    // first and adds nothing more.
    std::vector<std::uint64_t> expected;
    for (const std::size_t k : chain) {
        expected.push_back(edbtest::StoreBuilder::offsetOf(k) + 42);
    }
    for (const std::size_t k : chain) {
        expected.push_back(edbtest::StoreBuilder::offsetOf(k) + 42 + 8 + 2000 + 3);
    }
    EXPECT_EQ(values(m.formattedBody.chunks), expected);
    std::vector<std::uint64_t> pagedPositions;
    for (const std::size_t k : paged) {
        pagedPositions.push_back(edbtest::StoreBuilder::offsetOf(k) + 42);
    }
    EXPECT_EQ(values(m.primaryBody.chunks), pagedPositions);
}

class AttachmentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        store.addPage(0);
        // Pages the 5-byte values point at (store page numbers 0, 1 and 2).
        store.addPage(0);
        store.addPage(122);
        store.addPage(150);
        attachmentPage = store.addPage(61);
    }
    void open() {
        store.writeTo(file.path());
        ASSERT_TRUE(catalog.storeFile.Open(file.str()));
        catalog.storeSize = catalog.storeFile.GetLength();
    }
    edb::MessageEntry& message(std::uint64_t n, std::vector<Id8> ids) {
        edb::MessageEntry& m = addMessage(catalog, n);
        for (const Id8& id : ids) {
            edb::AddAttachmentId(m.attachmentIds, id);
        }
        catalog.messages.markLateIndexesStale();
        return m;
    }
    bool read() {
        const Page& p = store.page(attachmentPage);
        return edb::ReadAttachments(catalog, view(p),
                                    edbtest::StoreBuilder::offsetOf(attachmentPage));
    }
    std::size_t write(const AttachmentSpec& s) {
        const std::size_t at = cursor;
        cursor = edbtest::writeAttachmentRecord(store.page(attachmentPage), at, s) + 16;
        cursor = std::max(cursor, at + edbtest::attachmentRecordSize(s) + 8);
        return at;
    }

    edbtest::StoreBuilder store;
    edbtest::TempFile file;
    edb::StoreCatalog catalog;
    std::size_t attachmentPage = 0;
    std::size_t cursor = 40;
};

AttachmentSpec inlineSpec(std::uint32_t n, std::u16string name, std::vector<std::uint8_t> data) {
    AttachmentSpec s;
    s.id = edbtest::makeAttachmentId(n);
    s.name = std::move(name);
    s.data = std::move(data);
    return s;
}

AttachmentSpec referenceSpec(std::uint32_t n, std::u16string name, std::uint16_t reference,
                             std::uint16_t ownerPage) {
    AttachmentSpec s;
    s.id = edbtest::makeAttachmentId(n);
    s.name = std::move(name);
    s.reference = reference;
    s.ownerPage = ownerPage;
    return s;
}

TEST_F(AttachmentsTest, NoRecordStartReadsNothing) {
    open();
    EXPECT_FALSE(edb::ReadAttachments(catalog, view(store.page(0)), 0));
    EXPECT_FALSE(edb::ReadAttachments(catalog, edb::ByteView(store.page(0).bytes().data(), 32), 0));
}

TEST_F(AttachmentsTest, NameSizeAndReference) {
    auto both = inlineSpec(1, u"SHORT~1.TXT", {'a', 'b', 'c'});
    both.longName = u"A long name.txt";
    const auto inlineAt = write(both);
    write(referenceSpec(2, u"report.pdf", 0x0456, 0));
    write(inlineSpec(3, u"four.bin", {1, 2, 3, 4, 5, 6, 7, 8}));
    auto longOnly = inlineSpec(4, u"", {'z', 'z'});
    longOnly.longName = u"only long";
    write(longOnly);
    open();
    edb::MessageEntry& m = message(1, {edbtest::makeAttachmentId(1), edbtest::makeAttachmentId(2),
                                       edbtest::makeAttachmentId(3), edbtest::makeAttachmentId(4),
                                       edbtest::makeAttachmentId(5)});
    EXPECT_TRUE(read());

    ASSERT_EQ(m.attachments.size(), 4u);
    const auto& a = m.attachments[0];
    EXPECT_EQ(a.name, "A long name.txt");
    EXPECT_EQ(a.size, 4);
    EXPECT_EQ(a.reference, 0);
    // id, three tag entries and the closing one, four zero bytes, two name values and the
    // page-number bytes, then the size value's header byte.
    const std::size_t dataAt = inlineAt + 8 + 16 + 4 + (1 + 22 + 2) + (1 + 30 + 2) + 2 + 1;
    EXPECT_EQ(a.position, edbtest::StoreBuilder::offsetOf(attachmentPage) + dataAt);
    EXPECT_EQ(store.page(attachmentPage).bytes()[dataAt], 'a');

    EXPECT_EQ(m.attachments[1].name, "report.pdf");
    EXPECT_EQ(m.attachments[1].size, 5);
    EXPECT_EQ(m.attachments[1].reference, 0x0456);
    EXPECT_EQ(m.attachments[1].position, 0u);

    EXPECT_EQ(m.attachments[2].name, "four.bin");
    EXPECT_EQ(m.attachments[2].size, 9);
    EXPECT_NE(m.attachments[2].position, 0u);
    EXPECT_EQ(m.attachments[3].name, "only long");
}

TEST_F(AttachmentsTest, SameNameAndReferenceGiveOneEntry) {
    write(referenceSpec(1, u"a.txt", 0x10, 5000));
    write(referenceSpec(2, u"a.txt", 0x10, 5000));
    write(referenceSpec(3, u"a.txt", 0x11, 5000));
    open();
    edb::MessageEntry& m = message(1, {edbtest::makeAttachmentId(1), edbtest::makeAttachmentId(2),
                                       edbtest::makeAttachmentId(3)});
    read();
    ASSERT_EQ(m.attachments.size(), 2u);
    EXPECT_EQ(m.attachments[0].reference, 0x10);
    EXPECT_EQ(m.attachments[1].reference, 0x11);
}

TEST_F(AttachmentsTest, RecordStartWithoutNameEntriesIsPassedOver) {
    // The same id first where no name entry follows within reach.
    store.page(attachmentPage)
        .put(40, std::vector<std::uint8_t>({0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}));
    cursor = 200;
    write(inlineSpec(1, u"found.txt", {'x', 'y'}));
    open();
    edb::MessageEntry& m = message(1, {edbtest::makeAttachmentId(1)});
    read();
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].name, "found.txt");
}

TEST_F(AttachmentsTest, LongValueOwnerFromFirstUsableReference) {
    // In message-list order: a page outside the store, a page of owner 0, then owner 150 and
    // owner 122. Records stand on the page in the opposite order.
    write(referenceSpec(4, u"d", 4, 1));    // page 1: owner 122
    write(referenceSpec(3, u"c", 3, 2));    // page 2: owner 150
    write(referenceSpec(2, u"b", 2, 0));    // page 0: owner 0
    write(referenceSpec(1, u"a", 1, 9000)); // outside the store
    write(inlineSpec(5, u"e", {1, 2}));
    open();
    message(1, {edbtest::makeAttachmentId(5), edbtest::makeAttachmentId(1)});
    message(2, {edbtest::makeAttachmentId(2), edbtest::makeAttachmentId(3)});
    message(3, {edbtest::makeAttachmentId(4)});
    read();
    EXPECT_EQ(catalog.longValueOwner, 150u);

    // Once set, later values leave it alone.
    catalog.longValueOwner = 77;
    read();
    EXPECT_EQ(catalog.longValueOwner, 77u);
}

TEST(AddAttachment, RejectsEmptyNameAndSameNameWithSameReference) {
    std::vector<edb::AttachmentEntry> list;
    EXPECT_FALSE(edb::AddAttachment(list, "", 1, 5, 0));
    EXPECT_TRUE(edb::AddAttachment(list, "a", 1, 5, 0));
    EXPECT_FALSE(edb::AddAttachment(list, "a", 1, 9, 100));
    EXPECT_TRUE(edb::AddAttachment(list, "a", 2, 5, 0));
    EXPECT_TRUE(edb::AddAttachment(list, "A", 1, 5, 0));
    EXPECT_EQ(list.size(), 3u);
}

} // namespace
