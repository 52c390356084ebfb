#pragma once
// Walks over the pages the late stages read: the page list's pages of one owner, directly or
// read ahead on further threads, and page-sized blocks at any offset from one wider read.
#include "io/read_ahead.h"
#include "scan/scan_context.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace edb {

// Each page-list entry of `owner`, read and handed to `use`; progress after every entry.
template <class Use> void ForEachPageOf(ScanContext& ctx, std::uint32_t owner, Use&& use) {
    StoreCatalog& cat = ctx.catalog;
    std::vector<std::uint8_t> buf(kPageSize);
    // Index-based: stage 2 appended to the list, and nothing appends while this walks it.
    const auto& entries = cat.pageList.entries();
    for (std::size_t k = 0; k < entries.size(); ++k) {
        ctx.checkpoint();
        if (entries[k].owner == owner) {
            const std::uint64_t o = entries[k].offset;
            const std::size_t n = ReadPage(cat.storeFile, cat.storeSize, o, buf.data());
            use(ByteView(buf.data(), n), o);
        }
        ctx.pageListProgress(static_cast<std::int64_t>(k) + 1);
    }
}

// How far ahead the late stages read: pages per batch, and two reading threads (page reads
// cost a call each).
inline constexpr std::size_t kAheadBatch = 64;
inline constexpr std::size_t kAheadReaders = 2;

// What a read-ahead walk does with the i-th page of its owner: `prepare` runs on a reading
// thread and must touch nothing but what it leaves for `use(i, ...)`, which runs on this one.
using PreparePage = std::function<void(std::size_t i, const ByteView& page, std::uint64_t offset)>;

// The same walk with the pages read a batch ahead: the same reads in the same order.
// `size(count)` is told how many pages there are before any is read. A read that `use` makes
// itself comes after the reads of the pages ahead of it.
template <class Size, class Use>
void ForEachPageOfReadAhead(ScanContext& ctx, std::uint32_t owner, Size&& size,
                            const PreparePage& prepare, Use&& use) {
    StoreCatalog& cat = ctx.catalog;
    const auto& entries = cat.pageList.entries();
    std::vector<std::uint64_t> offsets;
    for (const PageEntry& e : entries) {
        if (e.owner == owner) {
            offsets.push_back(e.offset);
        }
    }
    size(offsets.size());
    const std::vector<std::uint64_t> at = offsets;
    PageReadAhead pages(
        cat.storeFile, cat.storeSize, std::move(offsets), kAheadBatch,
        [&prepare, &at](std::size_t i, const std::uint8_t* bytes, std::size_t n) {
            prepare(i, ByteView(bytes, n), at[i]);
        },
        kAheadReaders);
    std::size_t i = 0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        ctx.checkpoint();
        if (entries[k].owner == owner) {
            const std::uint8_t* bytes = nullptr;
            std::size_t n = 0;
            if (pages.next(bytes, n)) {
                use(i, ByteView(bytes, n), entries[k].offset);
                ++i;
            }
        }
        ctx.pageListProgress(static_cast<std::int64_t>(k) + 1);
    }
}

// Page-sized blocks at any offset (the page read rule: 4096 bytes or what is left of the file),
// served from one read of a span of up to 64 KiB when the blocks asked for lie inside it.
class BlockWindow {
public:
    BlockWindow(const CFile64& file, std::uint64_t storeSize)
        : m_file(file), m_storeSize(storeSize), m_buf(16 * kPageSize) {}
    // The block at `start` (< store size). A new read also covers, where the buffer allows,
    // the blocks likely to be asked for next: those at `back` bytes before each of `nearby`.
    [[nodiscard]] ByteView block(std::uint64_t start, std::span<const std::uint64_t> nearby,
                                 std::uint64_t back);

private:
    const CFile64& m_file;
    std::uint64_t m_storeSize;
    std::vector<std::uint8_t> m_buf;
    std::uint64_t m_start = 0;
    std::uint64_t m_size = 0;
};

} // namespace edb
