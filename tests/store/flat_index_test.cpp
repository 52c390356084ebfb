// The side indexes behind duplicate tests: the message list's flat index (every value stays
// findable through growth, equal keys keep all their values apart, keys that land on the same
// slot do not hide each other) and the page list's rising prefix.
#include "catalog/catalog.h"
#include "catalog/flat_index.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <vector>

using edb::FlatMultiIndex;

TEST(FlatMultiIndex, FindsEveryValueThroughGrowthAndSharedKeys) {
    // Keys chosen to collide: multiples of a large power of two share their low bits, and every
    // key carries three values.
    std::vector<int> values(3 * 5000);
    FlatMultiIndex<int> index;
    std::map<std::uint64_t, std::vector<int*>> model;
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<int>(i);
        const std::uint64_t key = (i / 3) << 40;
        index.insert(key, &values[i]);
        model[key].push_back(&values[i]);
    }
    EXPECT_EQ(index.size(), values.size());
    for (const auto& [key, ptrs] : model) {
        for (int* p : ptrs) {
            EXPECT_EQ(index.find(key, [&](const int* v) { return v == p; }), p);
        }
        EXPECT_EQ(index.find(key, [](const int* v) { return *v < 0; }), nullptr);
    }
    EXPECT_EQ(index.find(std::uint64_t{12345} << 40, [](const int*) { return true; }), nullptr);
    EXPECT_EQ(index.find(7, [](const int*) { return true; }), nullptr);
}

TEST(FlatMultiIndex, EmptyIndexFindsNothing) {
    const FlatMultiIndex<int> index;
    EXPECT_EQ(index.find(0, [](const int*) { return true; }), nullptr);
    EXPECT_EQ(index.size(), 0u);
}

// The page list's duplicate test: a rising prefix searched by offset, a hash for the rest.
// Against a plain set on sequences that rise, then repeat, interleave and rise again.
TEST(PageListIndex, SameAnswersAsAPlainSet) {
    std::uint64_t state = 99;
    auto rnd = [&state](std::uint64_t n) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return (state >> 33) % n;
    };
    for (int round = 0; round < 20; ++round) {
        edb::PageList list;
        std::set<std::pair<std::uint32_t, std::uint64_t>> model;
        std::vector<edb::PageEntry> order;
        auto add = [&](std::uint32_t owner, std::uint64_t offset) {
            const bool fresh = model.insert({owner, offset}).second;
            ASSERT_EQ(list.AddPage(owner, offset), fresh) << owner << " " << offset;
            if (fresh) {
                order.push_back({owner, offset});
            }
        };
        std::uint64_t o = 0;
        for (int i = 0; i < 300; ++i) { // the first pass: rising offsets
            o += 4096 * (1 + rnd(3));
            add(static_cast<std::uint32_t>(rnd(4)), o);
        }
        for (int i = 0; i < 600; ++i) { // later stages: anywhere, owners old and new
            const std::uint64_t at = 512 * rnd(o / 512 + 40);
            add(static_cast<std::uint32_t>(rnd(5)),
                rnd(2) == 0 ? at : order[rnd(order.size())].offset);
        }
        ASSERT_EQ(list.size(), order.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            EXPECT_EQ(list.entries()[i].owner, order[i].owner);
            EXPECT_EQ(list.entries()[i].offset, order[i].offset);
        }
        list.clear();
        EXPECT_TRUE(list.AddPage(order[0].owner, order[0].offset));
    }
}
