#pragma once
// Byte-level helpers of the PST node database: little-endian fields, the CRC every page and
// block carries, the signature that ties a page or block to its place, and the byte
// permutation Outlook applies to data blocks by default.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace edb::pst {

using Bytes = std::vector<std::uint8_t>;

inline void PutU8(Bytes& b, std::size_t at, std::uint8_t v) { b[at] = v; }
inline void PutU16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
inline void PutU64(Bytes& b, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
inline void AppendU16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void AppendU32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}
inline void AppendU64(Bytes& b, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// The file's CRC-32 (reflected polynomial 0xEDB88320, started at 0, no final inversion).
[[nodiscard]] std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);
// The signature of a block or B-tree page at file offset `ib` with id `bid`.
[[nodiscard]] std::uint16_t BlockSignature(std::uint64_t ib, std::uint64_t bid);
// Encodes a data block's bytes in place with the permutation method.
void PermuteEncode(std::uint8_t* data, std::size_t size);

// Text as the files hold it: UTF-16LE without a terminator. Invalid UTF-8 becomes U+FFFD.
[[nodiscard]] Bytes Utf16(const std::string& utf8);

// Node ids: the low five bits name the kind of node.
enum NidType : std::uint32_t {
    kNidHid = 0x00,
    kNidInternal = 0x01,
    kNidNormalFolder = 0x02,
    kNidSearchFolder = 0x03,
    kNidNormalMessage = 0x04,
    kNidAttachment = 0x05,
    kNidHierarchyTable = 0x0D,
    kNidContentsTable = 0x0E,
    kNidAssocContentsTable = 0x0F,
    kNidSearchContentsTable = 0x10,
    kNidAttachmentTable = 0x11,
    kNidRecipientTable = 0x12,
    kNidLtp = 0x1F,
};
[[nodiscard]] constexpr std::uint32_t MakeNid(std::uint32_t type, std::uint32_t index) {
    return (index << 5) | type;
}

inline constexpr std::size_t kMaxBlockData = 8176; // 8192 less the block trailer
inline constexpr std::size_t kPageSize = 512;

} // namespace edb::pst
