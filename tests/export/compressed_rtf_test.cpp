// Compressed RTF streams: the published worked examples, then damaged copies of them.
#include "rtf/compressed_rtf.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
using edb::ByteView;
using edb::conv::DecompressRtf;
using edb::conv::RtfStreamType;

std::vector<std::uint8_t> fromHex(std::string_view hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}
ByteView view(const std::vector<std::uint8_t>& b) {
    return ByteView(b.data(), b.size());
}

// COMPSIZE, RAWSIZE, "LZFu", CRC, then the contents.
const std::vector<std::uint8_t> kHello = fromHex(
    "2d0000002b0000004c5a4675f1c5c7a703000a007263706731323542320af32068656c090020627705b06c647d"
    "0a800fa0");
const std::string kHelloText = "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n";
// A reference that reaches into the bytes it is writing.
const std::vector<std::uint8_t> kRepeat =
    fromHex("1a0000001c0000004c5a4675e2d44b51410004205758595a0d6e7d010eb0");
const std::string kRepeatText = "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}";
const std::string kStoredText = "{\\rtf1\\ansi\\ansicpg1252\\pard test}";

std::vector<std::uint8_t> stored() {
    auto b = fromHex("2e000000220000004d454c4100000000");
    b.insert(b.end(), kStoredText.begin(), kStoredText.end());
    return b;
}

TEST(CompressedRtf, PublishedExamplesDecodeExactly) {
    const auto hello = DecompressRtf(view(kHello));
    EXPECT_EQ(hello.type, RtfStreamType::Compressed);
    EXPECT_EQ(hello.rtf, kHelloText);
    EXPECT_TRUE(hello.clean()) << hello.problems();

    const auto repeat = DecompressRtf(view(kRepeat));
    EXPECT_EQ(repeat.rtf, kRepeatText);
    EXPECT_TRUE(repeat.clean()) << repeat.problems();

    const auto s = stored();
    const auto mela = DecompressRtf(view(s));
    EXPECT_EQ(mela.type, RtfStreamType::Stored);
    EXPECT_EQ(mela.rtf, kStoredText);
    EXPECT_TRUE(mela.clean()) << mela.problems();
}

TEST(CompressedRtf, CrcMatchesTheCheckValueAndTheHeader) {
    const std::string check = "123456789";
    EXPECT_EQ(edb::conv::RtfCrc(
                  ByteView(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())),
              0x2DFD2D88U);
    EXPECT_EQ(edb::conv::RtfCrc(view(kHello).sub(16, kHello.size() - 16)), 0xA7C7C5F1U);
}

TEST(CompressedRtf, MagicIsFoundAfterAHeaderByte) {
    std::vector<std::uint8_t> withHeaderByte{0x00};
    withHeaderByte.insert(withHeaderByte.end(), kHello.begin(), kHello.end());
    EXPECT_TRUE(edb::conv::HasRtfMagic(view(withHeaderByte), 1));
    EXPECT_FALSE(edb::conv::HasRtfMagic(view(withHeaderByte), 0));
    EXPECT_FALSE(edb::conv::HasRtfMagic(view(kHello), 40)); // runs past the end
}

TEST(CompressedRtf, DamagedCrcIsReportedButTheTextKept) {
    auto badCrc = kHello;
    badCrc[12] ^= 0x01; // CRC field
    auto r = DecompressRtf(view(badCrc));
    EXPECT_TRUE(r.crcMismatch);
    EXPECT_EQ(r.rtf, kHelloText);

    auto badContents = kHello;
    badContents[20] ^= 0x20; // a literal inside the contents
    r = DecompressRtf(view(badContents));
    EXPECT_TRUE(r.crcMismatch);
    EXPECT_FALSE(r.clean());

    auto s = stored();
    s[12] = 1; // stored streams must carry CRC 0
    EXPECT_TRUE(DecompressRtf(view(s)).crcMismatch);
}

TEST(CompressedRtf, TruncatedStreamsGiveAPrefixAndSaySo) {
    for (std::size_t len = 16; len < kHello.size(); ++len) {
        const std::vector<std::uint8_t> cut(kHello.begin(),
                                            kHello.begin() + static_cast<long>(len));
        const auto r = DecompressRtf(view(cut));
        EXPECT_TRUE(r.truncated) << len;
        EXPECT_FALSE(r.clean()) << len;
        EXPECT_EQ(kHelloText.compare(0, r.rtf.size(), r.rtf), 0) << len;
    }
    for (std::size_t len = 0; len < 16; ++len) {
        const std::vector<std::uint8_t> cut(kHello.begin(),
                                            kHello.begin() + static_cast<long>(len));
        EXPECT_EQ(DecompressRtf(view(cut)).type, RtfStreamType::Unknown) << len;
    }
    auto s = stored();
    s.resize(s.size() - 5);
    const auto r = DecompressRtf(view(s));
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.rtf, kStoredText.substr(0, kStoredText.size() - 5));
}

TEST(CompressedRtf, LyingSizesAreBoundedAndReported) {
    auto bigRaw = kHello;
    bigRaw[4] = 0xFF, bigRaw[5] = 0xFF, bigRaw[6] = 0xFF, bigRaw[7] = 0x7F; // RAWSIZE ~2 GiB
    auto r = DecompressRtf(view(bigRaw));
    EXPECT_EQ(r.rtf, kHelloText); // stops at the end marker, allocates nothing of that size
    EXPECT_TRUE(r.sizeMismatch);

    auto smallRaw = kHello;
    smallRaw[4] = 10;
    r = DecompressRtf(view(smallRaw));
    EXPECT_EQ(r.rtf, kHelloText.substr(0, 10));
    EXPECT_TRUE(r.sizeMismatch);

    auto bigComp = kHello;
    bigComp[0] = 0xFF, bigComp[1] = 0xFF, bigComp[2] = 0xFF, bigComp[3] = 0xFF;
    r = DecompressRtf(view(bigComp));
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.rtf, kHelloText);

    auto tinyComp = kHello;
    tinyComp[0] = 3; // less than the header's own share
    r = DecompressRtf(view(tinyComp));
    EXPECT_TRUE(r.sizeMismatch);
    EXPECT_FALSE(r.clean());

    auto melaRaw = stored();
    melaRaw[4] = 0xFF, melaRaw[5] = 0xFF;
    r = DecompressRtf(view(melaRaw));
    EXPECT_EQ(r.rtf, kStoredText);
    EXPECT_TRUE(r.truncated);

    auto unknown = kHello;
    unknown[8] = 'X';
    EXPECT_EQ(DecompressRtf(view(unknown)).type, RtfStreamType::Unknown);
}

TEST(CompressedRtf, EveryByteFlipDecodesWithinBounds) {
    for (std::size_t i = 0; i < kRepeat.size(); ++i) {
        for (const std::uint8_t mask : {0x01, 0x10, 0x80, 0xFF}) {
            auto b = kRepeat;
            b[i] ^= mask;
            const auto r = DecompressRtf(view(b));
            const ByteView v = view(b);
            const auto raw = v.readU32Le(4);
            if (r.type != RtfStreamType::Unknown) {
                EXPECT_LE(r.rtf.size(), *raw) << i;
            }
            if (i >= 16 && r.type == RtfStreamType::Compressed) {
                EXPECT_FALSE(r.clean() && r.rtf != kRepeatText) << i;
            }
        }
    }
}

} // namespace
