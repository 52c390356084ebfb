#pragma once
// Tag entries, shared by every record decoder: a u16 LE column id, then a value offset whose
// value ends where the next entry's value starts.
#include "io/bytes.h"
#include "io/format.h"

#include <cstdint>

namespace edb {

// Value offset of the entry whose offset bytes start at `at`: byte 0 plus the low four bits of
// byte 1; the upper bits are flags. Bytes outside the page count as 0.
inline std::int64_t ValueOffset(const ByteView& p, std::int64_t at) {
    return std::int64_t{p.byteOr0(at)} + 256 * std::int64_t{p.byteOr0(at + 1) & 0x0F};
}

// The value of the entry whose offset bytes start at `at`, closed by the next entry's offset.
struct ValueRange {
    std::int64_t start = 0;
    std::int64_t end = 0;
    // Offset 0, next offset 0, or a next offset not past its own: nothing to read.
    [[nodiscard]] bool usable() const { return start != 0 && end != 0 && end > start; }
    [[nodiscard]] std::int64_t size() const { return end - start; }
};

inline ValueRange ValueRangeAt(const ByteView& p, std::int64_t at) {
    return {ValueOffset(p, at), ValueOffset(p, at + kTagEntryBytes)};
}

inline bool IsColumn(const ByteView& p, std::int64_t at, std::uint16_t column) {
    return p.matches(
        at, {static_cast<std::uint8_t>(column & 0xFF), static_cast<std::uint8_t>(column >> 8)});
}

} // namespace edb
