#include "io/bytes.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using edb::ByteCursor;
using edb::ByteView;

// The page's last bytes: every search and read stops at the view's end, never past it.
TEST(ByteView, FindStaysInsideTheView) {
    const std::vector<std::uint8_t> bytes{0x03, 0x00, 0x05, 0x01, 0x03, 0x00};
    const ByteView v(bytes.data(), bytes.size());
    constexpr std::uint8_t kMarker[] = {0x03, 0x00, 0x05};
    EXPECT_EQ(v.find(0x03, 0, 6), 0);
    EXPECT_EQ(v.find(0x03, 1, 6), 4);
    EXPECT_EQ(v.find(0x03, 1, 4), std::nullopt); // `to` is excluded
    EXPECT_EQ(v.find(0x03, -5, 1), 0);           // a start before the view is the view's start
    EXPECT_EQ(v.find(0x03, 5, 100), std::nullopt);
    EXPECT_EQ(v.find(kMarker, 0, 6), 0);
    // The marker's first two bytes at 4 run out of the view: no match there.
    EXPECT_EQ(v.find(kMarker, 1, 100), std::nullopt);
    EXPECT_EQ(ByteView().find(0x00, 0, 10), std::nullopt);
}

TEST(ByteView, ReadsOutsideCountAsZeroOnlyInTheOr0Forms) {
    const std::vector<std::uint8_t> bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99};
    const ByteView v(bytes.data(), bytes.size());
    EXPECT_EQ(v.readU32Be(0), 0x11223344u);
    EXPECT_EQ(v.readU16Be(7), 0x8899u);
    EXPECT_EQ(v.readU16Be(8), std::nullopt);
    EXPECT_EQ(v.u32LeOr0(7), 0x00009988u);
    EXPECT_EQ(v.u32LeOr0(-2), 0x22110000u);
    EXPECT_EQ(v.u16BeOr0(8), 0x9900u);
    EXPECT_EQ(v.u64LeOr0(100), 0u);
    EXPECT_EQ(v.readId(1), (edb::StoreId{0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99}));
    EXPECT_EQ(v.readId(2), std::nullopt);
    EXPECT_EQ(v.idOr0(2), (edb::StoreId{0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0x00}));
    EXPECT_EQ(v.chars(7, 3), "");
}

// A chunk header: u16 LE, u32 BE, u16 LE; a read that does not fit leaves the cursor in place.
TEST(ByteCursor, WalksARecordAndStopsAtItsEnd) {
    const std::vector<std::uint8_t> bytes{0x2A, 0x00, 0x00, 0x00, 0x0F, 0xAE, 0x07};
    ByteCursor c(ByteView(bytes.data(), bytes.size()), 0);
    EXPECT_EQ(c.u16Le(), 42u);
    EXPECT_EQ(c.u32Be(), 4014u);
    EXPECT_EQ(c.u16Le(), std::nullopt);
    EXPECT_EQ(c.position(), 6);
    EXPECT_EQ(c.u8(), 0x07u);
    EXPECT_EQ(c.position(), 7);
}

} // namespace
