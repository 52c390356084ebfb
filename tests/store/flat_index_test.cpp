// The flat side index behind the message list's duplicate test and its by-id groups: every
// value stays findable through growth, equal keys keep all their values apart, and keys that
// land on the same slot do not hide each other.
#include "store/flat_index.h"

#include <gtest/gtest.h>
#include <map>
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
