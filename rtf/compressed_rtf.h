#pragma once
// Compressed RTF streams ("LZFu" compressed, "MELA" stored) as a formatted body holds them.
// The decoder is tolerant: carved data may be cut short or damaged, so it decodes what it can
// and says what was wrong instead of giving up.
#include "io/bytes.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace edb::conv {

constexpr std::size_t kRtfHeaderSize = 16;

enum class RtfStreamType { Unknown, Compressed, Stored };

struct RtfDecodeResult {
    RtfStreamType type = RtfStreamType::Unknown;
    std::string rtf;           // decoded bytes, at most the declared raw size
    bool truncated = false;    // the input ended before the declared contents did
    bool crcMismatch = false;  // CRC field differs from the contents' CRC (or non-zero when stored)
    bool sizeMismatch = false; // decoded length differs from the declared raw size
    // True when something usable came out (even with problems noted above).
    [[nodiscard]] bool usable() const { return type != RtfStreamType::Unknown && !rtf.empty(); }
    [[nodiscard]] bool clean() const {
        return type != RtfStreamType::Unknown && !truncated && !crcMismatch && !sizeMismatch;
    }
    // Short description of the problems, empty when clean.
    [[nodiscard]] std::string problems() const;
};

// True when the 4 bytes at `at + 8` are "LZFu" or "MELA" (a stream header starting at `at`).
[[nodiscard]] bool HasRtfMagic(const ByteView& bytes, std::int64_t at);

// Decodes a stream that starts with its 16-byte header.
[[nodiscard]] RtfDecodeResult DecompressRtf(const ByteView& stream);

// The stream CRC: reflected CRC-32 (0xEDB88320), initial value 0, no final XOR.
[[nodiscard]] std::uint32_t RtfCrc(const ByteView& bytes);

} // namespace edb::conv
