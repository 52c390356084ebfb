#include <filesystem>

#include <gtest/gtest.h>

#include "store/late_stages.h"
#include "tests/support/store_builder.h"

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
