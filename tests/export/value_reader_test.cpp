// Reading values back through the store file: inline values, long values from chunk records,
// and what damaged locators and chunks do.
#include "content/value_reader.h"
#include "io/file64.h"
#include "tests/support/store_builder.h"

#include <gtest/gtest.h>

namespace {
using namespace edb::conv;
using edb::kChunkDataMax;
using edb::kPageSize;
using edbtest::Page;
using edbtest::StoreBuilder;

std::vector<std::uint8_t> bytesOf(std::string_view s) {
    return {s.begin(), s.end()};
}

// A chunk record: u16 LE reference, u32 BE chunk offset, u16 LE data length, data.
void putChunk(Page& p, std::size_t at, std::uint16_t ref, std::uint32_t offset,
              const std::vector<std::uint8_t>& data, std::uint16_t declared = 0xFFFF) {
    p.u16le(at, ref).u32be(at + 2, offset);
    p.u16le(at + 6, declared == 0xFFFF ? static_cast<std::uint16_t>(data.size()) : declared);
    p.put(at + 8, data);
}

std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return v;
}

class ValueReaderTest : public ::testing::Test {
protected:
    void open(const StoreBuilder& b) {
        b.writeTo(m_file.path());
        ASSERT_TRUE(m_store.Open(m_file.str()));
        m_size = m_store.GetLength();
    }
    StoreReader reader() const { return StoreReader(m_store, m_size); }
    static std::uint64_t at(std::size_t page, std::size_t off) {
        return StoreBuilder::offsetOf(page) + off;
    }

    edbtest::TempFile m_file;
    edb::CFile64 m_store;
    std::uint64_t m_size = 0;
};

TEST_F(ValueReaderTest, InlinePlainBodyUsesItsMarkerCountAndEnd) {
    StoreBuilder b;
    // Marker E3 04 (1251), count 6, "Привет" in 1251, then bytes of the next value.
    b.page(1).put(100, {0xE3, 0x04, 6, 0, 0, 0, 0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, 'X', 'Y'});
    // Marker E4 04, count 1000 (a lie), text "caf\xe9" ending at the value's end.
    b.page(2).put(200, {0xE4, 0x04, 0xE8, 0x03, 0, 0, 'c', 'a', 'f', 0xE9, 'Z', 'Z'});
    // Count runs past the page end.
    b.page(3).put(kPageSize - 8, {0xE4, 0x04, 0xFF, 0x00, 0, 0, 'a', 'b'});
    b.page(4);
    open(b);

    ValueLocation l;
    l.position = at(1, 106);
    auto body = ReadPrimaryBody(reader(), l);
    EXPECT_TRUE(body.found);
    EXPECT_EQ(body.text, "Привет");

    l.position = at(2, 206);
    l.valueEnd = at(2, 210);
    body = ReadPrimaryBody(reader(), l);
    EXPECT_EQ(body.text, "café");

    l = {};
    l.position = at(3, kPageSize - 2);
    body = ReadPrimaryBody(reader(), l);
    EXPECT_EQ(body.text, "ab");
    EXPECT_FALSE(body.note.empty());

    // The header would lie in the page before: nothing is read across the boundary.
    l.position = at(2, 2);
    body = ReadPrimaryBody(reader(), l);
    EXPECT_FALSE(body.found);

    l.position = m_size + 100;
    EXPECT_FALSE(ReadPrimaryBody(reader(), l).found);
    EXPECT_FALSE(ReadPrimaryBody(reader(), ValueLocation{}).found);
}

TEST_F(ValueReaderTest, LongValueFollowsChunkOffsetsNotListOrder) {
    StoreBuilder b;
    const auto first = pattern(kChunkDataMax, 1);
    const auto second = pattern(kChunkDataMax, 2);
    const auto third = pattern(500, 3);
    putChunk(b.page(1), 42, 0x0203, 0, first);
    putChunk(b.page(2), 42, 0x0203, 2 * kChunkDataMax, third);
    putChunk(b.page(3), 42, 0x0203, kChunkDataMax, second);
    putChunk(b.page(4), 42, 0x0999, kChunkDataMax, pattern(100, 9)); // another value's chunk
    open(b);

    std::vector<std::uint8_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), third.begin(), third.end());
    std::string note;
    const auto value =
        reader().readLongValue(0x0203, {at(2, 42), at(4, 42), at(1, 42), at(3, 42)}, &note);
    EXPECT_EQ(value, expected);
    EXPECT_TRUE(note.empty()) << note;

    ValueLocation l;
    l.reference = 0x0203;
    l.chunks = {at(3, 42), at(1, 42), at(2, 42)};
    const auto a = ReadAttachmentData(reader(), l);
    EXPECT_TRUE(a.found);
    EXPECT_EQ(a.bytes, expected);
}

TEST_F(ValueReaderTest, GapsOverrunsAndStrayPositionsStopTheValue) {
    StoreBuilder b;
    putChunk(b.page(1), 42, 7, 0, pattern(kChunkDataMax, 1));
    putChunk(b.page(2), 42, 7, 2 * kChunkDataMax, pattern(10, 2)); // chunk 1 is missing
    // Declared length runs past the page: the data is cut there and the value ends.
    putChunk(b.page(3), kPageSize - 108, 8, 0, pattern(100, 3), 4000);
    putChunk(b.page(4), 42, 8, kChunkDataMax, pattern(10, 4));
    putChunk(b.page(5), 42, 9, 123, pattern(10, 5)); // offset not a multiple of 4014
    open(b);

    std::string note;
    auto v = reader().readLongValue(7, {at(1, 42), at(2, 42)}, &note);
    EXPECT_EQ(v.size(), kChunkDataMax);
    EXPECT_NE(note.find("stops"), std::string::npos);

    v = reader().readLongValue(8, {at(3, kPageSize - 108), at(4, 42)});
    EXPECT_EQ(v, pattern(100, 3));

    note.clear();
    v = reader().readLongValue(
        9, std::vector<std::uint64_t>{at(5, 42), m_size - 3, m_size + 4096, UINT64_MAX}, &note);
    EXPECT_TRUE(v.empty());
    EXPECT_FALSE(note.empty());
}

TEST_F(ValueReaderTest, FormattedValuesAreSniffedAsRtfOrHtml) {
    // Header byte, then a stored RTF stream that carries HTML.
    const std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 {\\*\\htmltag1 <p>}x{\\*\\htmltag2 </p>}}";
    std::vector<std::uint8_t> stream{0x00};
    const auto le = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            stream.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    };
    le(static_cast<std::uint32_t>(rtf.size() + 12));
    le(static_cast<std::uint32_t>(rtf.size()));
    stream.insert(stream.end(), {'M', 'E', 'L', 'A', 0, 0, 0, 0});
    stream.insert(stream.end(), rtf.begin(), rtf.end());
    auto f = DecodeFormattedValue(stream);
    EXPECT_EQ(f.kind, FormattedBody::Kind::Html);
    EXPECT_EQ(f.data, "<p>x</p>");

    // Plain RTF is kept as it is.
    const std::string other = "{\\rtf1\\ansi hi}";
    std::vector<std::uint8_t> s2(stream.begin(), stream.begin() + 1);
    s2.insert(s2.end(), {0, 0, 0, 0, static_cast<std::uint8_t>(other.size()), 0, 0, 0, 'M', 'E',
                         'L', 'A', 0, 0, 0, 0});
    s2.insert(s2.end(), other.begin(), other.end());
    f = DecodeFormattedValue(s2);
    EXPECT_EQ(f.kind, FormattedBody::Kind::Rtf);
    EXPECT_EQ(f.data, other);

    // HTML: UTF-8 when valid, else code page 1252; a leading header byte is dropped.
    f = DecodeFormattedValue(bytesOf("\x01<b>Gr\xC3\xBC\xC3\x9F"
                                     "e</b>"));
    EXPECT_EQ(f.kind, FormattedBody::Kind::Html);
    EXPECT_EQ(f.data, "<b>Grüße</b>");
    f = DecodeFormattedValue(bytesOf("<b>Gr\xFC\xDF"
                                     "e</b>"));
    EXPECT_EQ(f.data, "<b>Grüße</b>");

    EXPECT_EQ(DecodeFormattedValue({}).kind, FormattedBody::Kind::None);
}

TEST_F(ValueReaderTest, InlineAttachmentStaysInItsPage) {
    StoreBuilder b;
    b.page(1).put(kPageSize - 4, {1, 2, 3, 4});
    b.page(2).put(0, {9, 9, 9});
    open(b);
    ValueLocation l;
    l.position = at(1, kPageSize - 4);
    l.size = 4; // header byte plus three data bytes
    auto a = ReadAttachmentData(reader(), l);
    EXPECT_EQ(a.bytes, (std::vector<std::uint8_t>{1, 2, 3}));
    l.size = 60;
    a = ReadAttachmentData(reader(), l);
    EXPECT_EQ(a.bytes, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_FALSE(a.note.empty());

    ValueLocation missing;
    missing.reference = 5;
    EXPECT_FALSE(ReadAttachmentData(reader(), missing).found);
}

} // namespace
