// Store text: how far a UTF-16 value is read (stop bytes on the low byte, the unit limit, the
// length rule, the view's end) and how it becomes UTF-8 (pairs, lone surrogates, code pages).
#include "io/text.h"

#include <gtest/gtest.h>
#include <vector>

using namespace edb;

namespace {

std::vector<std::uint8_t> utf16le(std::u16string_view s) {
    std::vector<std::uint8_t> b;
    for (const char16_t u : s) {
        b.push_back(static_cast<std::uint8_t>(u & 0xFF));
        b.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return b;
}

TEST(ReadWideUnits, StopsAtLimitsAndStopBytes) {
    const auto bytes = utf16le(u"Hello\u0401x");
    const ByteView v(bytes.data(), bytes.size());
    // The stop test looks at the low byte only: U+0401 ends the text at 0x01.
    WideText t = ReadWideUnits(v, 0, {{0x00, 0x01}, 100, false, 0});
    EXPECT_EQ(t.units, u"Hello");
    EXPECT_EQ(t.end, 10);
    // Without that stop byte the whole text, up to the view's end.
    t = ReadWideUnits(v, 0, {{0x00}, 100, false, 0});
    EXPECT_EQ(t.units, u"Hello\u0401x");
    EXPECT_EQ(t.end, 14);
    // The unit limit.
    t = ReadWideUnits(v, 2, {{0x00}, 3, false, 0});
    EXPECT_EQ(t.units, u"ell");
    EXPECT_EQ(t.end, 8);
}

TEST(ReadWideUnits, LengthRuleTakesUnitsWhileTwiceTheCountIsBelowLengthLessOne) {
    const auto bytes = utf16le(u"abcdef");
    const ByteView v(bytes.data(), bytes.size());
    const std::pair<std::int64_t, std::u16string> cases[] = {
        {-5, u""}, {0, u""}, {1, u""}, {2, u"a"}, {3, u"a"}, {4, u"ab"}, {5, u"ab"}, {7, u"abc"}};
    for (const auto& [length, want] : cases) {
        EXPECT_EQ(ReadWideUnits(v, 0, {{0x00}, 100, true, length}).units, want) << length;
    }
}

TEST(ReadWideUnits, StartsOutsideOrAtAnOddEndOfTheView) {
    const auto bytes = utf16le(u"ab");
    const ByteView v(bytes.data(), bytes.size());
    EXPECT_TRUE(ReadWideUnits(v, -2, {{0x00}, 10, false, 0}).units.empty());
    EXPECT_TRUE(ReadWideUnits(v, 4, {{0x00}, 10, false, 0}).units.empty());
    EXPECT_TRUE(ReadWideUnits(v, 99, {{0x00}, 10, false, 0}).units.empty());
    // A half unit at the end is not a unit.
    const ByteView odd(bytes.data(), 3);
    const WideText t = ReadWideUnits(odd, 0, {{0x00}, 10, false, 0});
    EXPECT_EQ(t.units, u"a");
    EXPECT_EQ(t.end, 2);
    EXPECT_EQ(ReadWideUnits(odd, 1, {{0x02}, 10, false, 0}).units, std::u16string(1, u'\x6200'));
}

TEST(Utf16ToUtf8, EveryLengthAndBrokenSurrogates) {
    EXPECT_EQ(Utf16ToUtf8(u"plain"), "plain");
    EXPECT_EQ(Utf16ToUtf8(u"\u00e9\u0416\u20ac"), "\xc3\xa9\xd0\x96\xe2\x82\xac");
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F600!"), "\xf0\x9f\x98\x80!");
    const std::u16string loneHigh{char16_t(0xD83D), u'x'};
    EXPECT_EQ(Utf16ToUtf8(loneHigh), "\xef\xbf\xbdx");
    const std::u16string loneLow{char16_t(0xDE00)};
    EXPECT_EQ(Utf16ToUtf8(loneLow), "\xef\xbf\xbd");
    const std::u16string highAtEnd{u'a', char16_t(0xD83D)};
    EXPECT_EQ(Utf16ToUtf8(highAtEnd), "a\xef\xbf\xbd");
    EXPECT_EQ(Utf16ToUtf8(u""), "");
}

TEST(CodePageToUtf8, BothCodePages) {
    EXPECT_EQ(CodePageToUtf8("A\x80\xe9", 1252), "A\xe2\x82\xac\xc3\xa9");
    EXPECT_EQ(CodePageToUtf8("\xc0\xa8", 1251), "\xd0\x90\xd0\x81");
    std::string s;
    AppendUtf8(s, 0xD800);
    AppendUtf8(s, 0x10FFFF);
    EXPECT_EQ(s, "\xef\xbf\xbd\xf4\x8f\xbf\xbf");
}

} // namespace
