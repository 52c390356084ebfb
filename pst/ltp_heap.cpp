#include "pst/ltp_heap.h"

#include <algorithm>
#include <stdexcept>

namespace edb::pst {
namespace {

constexpr std::size_t kMaxPageAllocs = 2047; // an HID's index has 11 bits

// Page 0 opens with the heap header, every 128th page from page 8 with a fill-level bitmap,
// every other page with the offset of its page map only.
std::size_t PageHeaderSize(std::size_t page) {
    if (page == 0) {
        return 12;
    }
    return page % 128 == 8 ? 66 : 2;
}

std::size_t PageSize(std::size_t page, std::size_t used, std::size_t allocs) {
    const std::size_t body = PageHeaderSize(page) + used;
    return body + (body % 2) + 4 + 2 * (allocs + 1);
}

} // namespace

std::uint32_t Heap::allocate(const Bytes& data) {
    if (data.size() > kMaxHeapAlloc) {
        throw std::logic_error("heap allocation too large");
    }
    Page* page = &m_pages.back();
    if (page->allocations.size() >= kMaxPageAllocs ||
        PageSize(m_pages.size() - 1, page->used + data.size(), page->allocations.size() + 1) >
            kMaxBlockData) {
        if (m_pages.size() >= 0xFFFF) {
            throw std::length_error("heap too large");
        }
        m_pages.emplace_back();
        page = &m_pages.back();
    }
    page->allocations.push_back(data);
    page->used += data.size();
    const auto index = static_cast<std::uint32_t>(page->allocations.size());
    return (static_cast<std::uint32_t>(m_pages.size() - 1) << 16) | (index << 5);
}

std::vector<Bytes> Heap::pages() const {
    std::vector<Bytes> out;
    for (std::size_t p = 0; p < m_pages.size(); ++p) {
        const Page& page = m_pages[p];
        Bytes b(PageHeaderSize(p), 0);
        if (p == 0) {
            b[2] = 0xEC;
            b[3] = m_client;
            PutU32(b, 4, m_root);
        }
        std::vector<std::uint16_t> offsets;
        for (const Bytes& a : page.allocations) {
            offsets.push_back(static_cast<std::uint16_t>(b.size()));
            b.insert(b.end(), a.begin(), a.end());
        }
        offsets.push_back(static_cast<std::uint16_t>(b.size()));
        if (b.size() % 2 != 0) {
            b.push_back(0);
        }
        PutU16(b, 0, static_cast<std::uint16_t>(b.size()));
        AppendU16(b, static_cast<std::uint16_t>(page.allocations.size()));
        AppendU16(b, 0);
        for (const std::uint16_t o : offsets) {
            AppendU16(b, o);
        }
        out.push_back(std::move(b));
    }
    return out;
}

std::uint32_t BuildBth(Heap& heap, std::uint8_t keySize, std::uint8_t dataSize,
                       const std::vector<Bytes>& records) {
    Bytes header{kBthSignature, keySize, dataSize, 0};
    AppendU32(header, 0);
    if (records.empty()) {
        return heap.allocate(header);
    }
    // Each level: the records in allocations as full as they go; the next level up holds
    // each allocation's first key and its HID.
    std::vector<Bytes> level = records;
    std::size_t recordSize = std::size_t{keySize} + dataSize;
    std::uint8_t levels = 0;
    for (;;) {
        const std::size_t per = kMaxHeapAlloc / recordSize;
        std::vector<Bytes> up;
        std::uint32_t last = 0;
        for (std::size_t i = 0; i < level.size(); i += per) {
            Bytes chunk;
            const std::size_t end = std::min(level.size(), i + per);
            for (std::size_t k = i; k < end; ++k) {
                chunk.insert(chunk.end(), level[k].begin(), level[k].end());
            }
            last = heap.allocate(chunk);
            Bytes entry(level[i].begin(), level[i].begin() + keySize);
            AppendU32(entry, last);
            up.push_back(std::move(entry));
        }
        if (up.size() == 1) {
            header[3] = levels;
            PutU32(header, 4, last);
            return heap.allocate(header);
        }
        level = std::move(up);
        recordSize = std::size_t{keySize} + 4;
        ++levels;
    }
}

} // namespace edb::pst
