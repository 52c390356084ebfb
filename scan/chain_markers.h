#pragma once
// The chunk markers (03 00 05) of the whole store with their values, noted by the first pass
// while it has the bytes, so that the chain walk looks its blocks' markers up instead of
// reading each block again. A store with more markers than the index holds is walked by
// reading, as before.
#include "decode/long_values.h"
#include "io/bytes.h"

#include <cstdint>
#include <vector>

namespace edb {

// Bytes a marker and its value reach past the marker's first byte.
inline constexpr std::size_t kChainMarkerReach = 6;

class ChainMarkerIndex {
public:
    struct Entry {
        std::uint64_t at = 0;    // file offset of the marker's first byte
        std::uint32_t value = 0; // the four bytes after the marker, little-endian (0 past the file)
    };

    explicit ChainMarkerIndex(std::uint64_t storeSize);

    // Reading thread: the markers that start in `block` (the file's bytes from `base`), whose
    // last bytes and value may run on into `after` (the bytes that follow the block), appended
    // to `out` in file order.
    static void FindInBlock(std::uint64_t base, const ByteView& block, const ByteView& after,
                            std::vector<Entry>& out);

    // Scan thread, block by block in file order. Past the limit the index gives up.
    void append(const std::vector<Entry>& found);
    void giveUp();
    [[nodiscard]] bool usable() const { return m_usable; }

    // The markers that FindChainMarkers finds in the block of `n` bytes at `start`.
    void blockMarkers(std::uint64_t start, std::size_t n, ChainMarkers& out) const;

private:
    std::vector<Entry> m_entries;
    std::size_t m_limit;
    bool m_usable = true;
};

} // namespace edb
