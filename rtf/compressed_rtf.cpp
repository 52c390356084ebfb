#include "rtf/compressed_rtf.h"

#include <array>

namespace edb::conv {
namespace {

constexpr std::size_t kCompSizeOffset = 0;
constexpr std::size_t kRawSizeOffset = 4;
constexpr std::size_t kTypeOffset = 8;
constexpr std::size_t kCrcOffset = 12;
// COMPSIZE counts the contents plus the last 12 header bytes.
constexpr std::uint32_t kCompSizeBias = 12;

constexpr std::uint32_t kTypeCompressed = 0x75465A4C; // "LZFu" read little-endian
constexpr std::uint32_t kTypeStored = 0x414C454D;     // "MELA"

constexpr std::size_t kDictSize = 4096;
constexpr std::string_view kDictPrefix =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern "
    "\\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0"
    "\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
static_assert(kDictPrefix.size() == 207);

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        }
        t[i] = c;
    }
    return t;
}
constexpr auto kCrcTable = makeCrcTable();

} // namespace

std::string RtfDecodeResult::problems() const {
    std::string out;
    auto add = [&](const char* s) {
        if (!out.empty()) {
            out += "; ";
        }
        out += s;
    };
    if (type == RtfStreamType::Unknown) {
        add("not a compressed RTF stream");
    }
    if (truncated) {
        add("stream cut short");
    }
    if (crcMismatch) {
        add("CRC mismatch");
    }
    if (sizeMismatch) {
        add("size differs from the header");
    }
    return out;
}

bool HasRtfMagic(const ByteView& bytes, std::int64_t at) {
    const auto type = bytes.readU32Le(at + static_cast<std::int64_t>(kTypeOffset));
    return type && (*type == kTypeCompressed || *type == kTypeStored);
}

std::uint32_t RtfCrc(const ByteView& bytes) {
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        crc = kCrcTable[(crc ^ bytes.byteOr0(static_cast<std::int64_t>(i))) & 0xFF] ^ (crc >> 8);
    }
    return crc;
}

RtfDecodeResult DecompressRtf(const ByteView& stream) {
    RtfDecodeResult r;
    const auto compSize = stream.readU32Le(kCompSizeOffset);
    const auto rawSize = stream.readU32Le(kRawSizeOffset);
    const auto type = stream.readU32Le(kTypeOffset);
    const auto crc = stream.readU32Le(kCrcOffset);
    if (!compSize || !rawSize || !type || !crc ||
        (*type != kTypeCompressed && *type != kTypeStored)) {
        return r;
    }
    const std::size_t available = stream.size() - kRtfHeaderSize;

    if (*type == kTypeStored) {
        r.type = RtfStreamType::Stored;
        std::size_t len = *rawSize;
        if (len > available) {
            len = available;
            r.truncated = true;
        }
        r.rtf.assign(stream.chars(kRtfHeaderSize, len));
        r.crcMismatch = *crc != 0;
        r.sizeMismatch = r.truncated;
        return r;
    }

    r.type = RtfStreamType::Compressed;
    // A COMPSIZE below the header's share is a lie; decode what is there and say so.
    std::size_t declared = available;
    if (*compSize < kCompSizeBias) {
        r.sizeMismatch = true;
    } else {
        declared = *compSize - kCompSizeBias;
    }
    std::size_t len = declared;
    if (len > available) {
        len = available;
        r.truncated = true;
    }
    const ByteView contents = stream.sub(kRtfHeaderSize, len);
    if (!r.truncated && !r.sizeMismatch) {
        r.crcMismatch = RtfCrc(contents) != *crc;
    }

    std::array<char, kDictSize> dict{};
    std::copy(kDictPrefix.begin(), kDictPrefix.end(), dict.begin());
    std::size_t writePos = kDictPrefix.size();
    const std::size_t limit = *rawSize;
    // The output never outgrows what the input can expand to, so no reservation from the header.
    r.rtf.reserve(std::min<std::size_t>(limit, len * 2 + 64));

    // Bytes beyond RAWSIZE are decoded but only counted: they show that the header lies.
    std::size_t beyond = 0;
    auto emit = [&](char c) {
        if (r.rtf.size() < limit) {
            r.rtf.push_back(c);
        } else {
            ++beyond;
        }
        dict[writePos] = c;
        writePos = (writePos + 1) % kDictSize;
    };

    std::size_t in = 0;
    bool ended = false;
    while (!ended && in < len) {
        const std::uint8_t control = contents.byteOr0(static_cast<std::int64_t>(in++));
        for (int bit = 0; bit < 8; ++bit) {
            if (in >= len) {
                break;
            }
            if ((control & (1U << bit)) == 0) {
                emit(static_cast<char>(contents.byteOr0(static_cast<std::int64_t>(in++))));
                continue;
            }
            // A reference: 12 bits of dictionary offset and 4 of length, big-endian.
            const auto word = contents.readU16Be(static_cast<std::int64_t>(in));
            if (!word) {
                in = len;
                break;
            }
            in += 2;
            const std::size_t offset = *word >> 4;
            const std::size_t count = (*word & 0x0F) + 2;
            if (offset == writePos) {
                ended = true;
                break;
            }
            // Byte by byte: a reference may reach into what it is writing.
            for (std::size_t k = 0; k < count; ++k) {
                emit(dict[(offset + k) % kDictSize]);
            }
        }
    }
    if (!ended && !r.truncated && r.rtf.size() < limit) {
        // Ran out of input without the end marker: the contents were cut short in the store.
        r.truncated = true;
    }
    if (r.rtf.size() != limit || beyond > 0) {
        r.sizeMismatch = true;
    }
    return r;
}

} // namespace edb::conv
