#include "scan/page_walk.h"
#include "scan/spill_files.h"
#include "tests/support/store_builder.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

using namespace edb;
using edbtest::Page;

namespace {
ByteView view(const Page& p) {
    return ByteView(p.bytes().data(), p.bytes().size());
}
// A chunk record: reference (LE) and chunk offset (BE).
void chunk(Page& p, std::size_t r, std::uint16_t ref, std::uint32_t chunkOffset) {
    p.u16le(r, ref).u32be(r + 2, chunkOffset);
}
} // namespace

TEST(LongValueStage, ChunkPageTestUsesMultiplesOf4014) {
    Page p;
    p.owner(122);
    chunk(p, 42, 7, 8028);
    p.u32be(60, 4096);
    EXPECT_TRUE(IsLongValueChunkPage(view(p), 122));
    EXPECT_FALSE(IsLongValueChunkPage(view(p), 61)); // other owner

    Page q;
    q.owner(122).u32be(44, 4096).u32be(60, 4096);
    EXPECT_FALSE(IsLongValueChunkPage(view(q), 122));
    q.u32be(60, 0);
    EXPECT_TRUE(IsLongValueChunkPage(view(q), 122));

    std::vector<std::uint8_t> shortPage(50, 0); // a last page shorter than 64 bytes never is
    shortPage[24] = 122;
    EXPECT_FALSE(IsLongValueChunkPage(ByteView(shortPage.data(), 50), 122));
}

TEST(LongValueStage, RecordPositionsAreCappedAtFifty) {
    Page p;
    for (std::size_t j = 100; j < 100 + 60 * 8; j += 8) {
        p.put(j, {0x03, 0x00, 0x05});
    }
    const auto pos = ChunkRecordPositions(view(p));
    ASSERT_EQ(pos.size(), 50u);
    EXPECT_EQ(pos[0], 42);
    EXPECT_EQ(pos[1], 58);
    EXPECT_EQ(pos[2], 103);
}

TEST(LongValueStage, AWordAt42BlocksAMatchAt58) {
    LongValueKeyList keys;
    keys.AddKey(9);
    Page p;
    chunk(p, 42, 5, 0); // non-zero word at 42
    chunk(p, 58, 9, 4014);
    MatchChunkPage(keys, view(p), 4096);
    EXPECT_TRUE(keys.find(9)->offsets.empty());

    Page q;
    chunk(q, 58, 9, 4014);
    MatchChunkPage(keys, view(q), 8192);
    EXPECT_EQ(keys.find(9)->offsets.values(), std::vector<std::uint64_t>{8192 + 58});
}

TEST(LongValueStage, ASimplePageIsDoneAfterItsFirstNewMatch) {
    LongValueKeyList keys;
    keys.AddKey(1);
    keys.AddKey(2);
    Page p; // only 42 and 58: the first key that adds an offset ends the page
    chunk(p, 42, 2, 0);
    chunk(p, 58, 2, 0);
    p.u32be(60, 1); // the record at 58 does not qualify
    MatchChunkPage(keys, view(p), 0);
    EXPECT_TRUE(keys.find(1)->offsets.empty());
    EXPECT_EQ(keys.find(2)->offsets.values(), std::vector<std::uint64_t>{42});

    LongValueKeyList two;
    two.AddKey(2);
    two.AddKey(1);
    Page s; // 42 (ref 1) and 58 (ref 2) with zero bytes at 42..43 impossible: 42 holds ref 1
    chunk(s, 42, 1, 0);
    chunk(s, 58, 2, 0);
    MatchChunkPage(two, view(s), 0);
    EXPECT_TRUE(two.find(2)->offsets.empty()); // blocked at 58 by the word at 42
    EXPECT_EQ(two.find(1)->offsets.values(), std::vector<std::uint64_t>{42});

    LongValueKeyList many;
    many.AddKey(1);
    many.AddKey(2);
    Page q; // more positions: every key is tried
    chunk(q, 42, 2, 0);
    q.put(200, {0x03, 0x00, 0x05});
    chunk(q, 203, 1, 4014);
    q.put(300, {0x03, 0x00, 0x05});
    MatchChunkPage(many, view(q), 0);
    EXPECT_EQ(many.find(1)->offsets.values(), std::vector<std::uint64_t>{203});
    EXPECT_EQ(many.find(2)->offsets.values(), std::vector<std::uint64_t>{42});
}

// The first pass's notes: records found on a page survive the temporary file unchanged, the
// page with the most records and a page with none included, and match as the page does.
TEST(LongValueStage, NotedRecordsReadBackAndMatchAsThePage) {
    Page full;
    full.put(42, {0, 0});
    chunk(full, 58, 7, 4014);
    for (std::size_t k = 0; k < 60; ++k) {
        const std::size_t at = 100 + k * 60;
        full.put(at, {0x03, 0x00, 0x05});
        chunk(full, at + 3, static_cast<std::uint16_t>(k % 30), 4014 * (k + 1));
    }
    Page empty; // no readable record: neither chunk offset is a multiple of 4014
    empty.u32be(44, 1).u32be(60, 1);
    Page blocked;
    blocked.put(42, {1, 0});
    chunk(blocked, 58, 9, 0);
    const Page* pages[] = {&full, &empty, &blocked};

    ChunkPageCandidates notes;
    ASSERT_TRUE(notes.ok());
    std::vector<ChunkPageRecords> found(3);
    for (std::size_t i = 0; i < 3; ++i) {
        FindChunkRecords(view(*pages[i]), found[i]);
        notes.note(4096 * (i + 1), static_cast<std::uint32_t>(100 + i), found[i]);
    }
    EXPECT_EQ(found[0].positions, 50);
    EXPECT_EQ(found[0].candidates, 30); // 0 at 42, 7 at 58, then the rest of 1..29
    EXPECT_EQ(found[1].candidates, 0);
    EXPECT_TRUE(found[2].blockedAt58);

    ASSERT_TRUE(notes.rewind());
    for (std::size_t i = 0; i < 3; ++i) {
        std::uint64_t offset = 0;
        std::uint32_t owner = 0;
        ChunkPageRecords back;
        ASSERT_TRUE(notes.next(offset, owner, back));
        EXPECT_EQ(offset, 4096 * (i + 1));
        EXPECT_EQ(owner, 100 + i);
        EXPECT_EQ(back.positions, found[i].positions);
        EXPECT_EQ(back.blockedAt58, found[i].blockedAt58);
        ASSERT_EQ(back.candidates, found[i].candidates);
        for (std::size_t c = 0; c < back.candidates; ++c) {
            EXPECT_EQ(back.reference[c], found[i].reference[c]);
            EXPECT_EQ(back.position[c], found[i].position[c]);
            EXPECT_EQ(back.place[c], found[i].place[c]);
        }
        LongValueKeyList fromPage;
        LongValueKeyList fromNotes;
        for (std::uint16_t ref : {7, 0, 3, 29, 9}) {
            fromPage.AddKey(ref);
            fromNotes.AddKey(ref);
        }
        MatchChunkPage(fromPage, view(*pages[i]), offset);
        MatchChunkRecords(fromNotes, back, offset);
        for (std::uint16_t ref : {7, 0, 3, 29, 9}) {
            EXPECT_EQ(fromNotes.find(ref)->offsets.values(), fromPage.find(ref)->offsets.values())
                << i << " " << ref;
        }
    }
    std::uint64_t offset = 0;
    std::uint32_t owner = 0;
    ChunkPageRecords back;
    EXPECT_FALSE(notes.next(offset, owner, back));
}

TEST(LongValueStage, BlockWindowGivesThePageReadRuleAtAnyOffset) {
    // A file of 70 pages and a bit of distinct bytes: every block served from a window equals
    // a direct page read at the same offset, whatever the span hint, at the end of the file too.
    const std::size_t size = 70 * kPageSize + 1234;
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7919) >> 5);
    }
    edbtest::TempFile f;
    {
        std::FILE* out = std::fopen(f.str().c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, size, out), size);
        std::fclose(out);
    }
    CFile64 file;
    ASSERT_TRUE(file.Open(f.str()));
    BlockWindow window(file, size);
    std::vector<std::uint8_t> direct(kPageSize);
    const std::uint64_t starts[] = {4086,           4096 + 1990, 3 * 4096 + 4086, 4086,    10,
                                    20 * 4096 - 10, 69 * 4096,   70 * 4096 + 5,   size - 1};
    const std::vector<std::uint64_t> hints[] = {
        {}, {4096 + 42, 3 * 4096 + 42}, {40 * 4096, 20 * 4096 + 42}, {size + 99999, 5}};
    for (const auto& nearby : hints) {
        for (const std::uint64_t start : starts) {
            SCOPED_TRACE(std::to_string(start) + " nearby " + std::to_string(nearby.size()));
            const ByteView block = window.block(start, nearby, 52);
            const std::size_t n = ReadPage(file, size, start, direct.data());
            ASSERT_EQ(block.size(), n);
            EXPECT_EQ(std::memcmp(block.data(), direct.data(), n), 0);
        }
    }
}
