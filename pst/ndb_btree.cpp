// The end of a node database: both B-trees from the entries kept in memory, the last
// allocation map, the free maps and the header with its CRCs.
#include "pst/ndb_writer.h"

#include <algorithm>

namespace edb::pst {
namespace {

constexpr std::size_t kEntriesBytes = 488;
constexpr int kBranchMax = 20; // BTENTRY: key, block id, offset
constexpr int kBranchSize = 24;

} // namespace

NdbWriter::PageRef NdbWriter::writeBTreePage(std::uint8_t ptype, int level, const Bytes& entries,
                                             int count, int entrySize, int maxEntries,
                                             std::uint64_t firstKey) {
    const std::uint64_t ib = allocate(kPageSize, kPageSize);
    const std::uint64_t bid = m_nextBid;
    m_nextBid += 4;
    Bytes page(kPageSize, 0);
    std::copy(entries.begin(), entries.end(), page.begin());
    page[kEntriesBytes] = static_cast<std::uint8_t>(count);
    page[kEntriesBytes + 1] = static_cast<std::uint8_t>(maxEntries);
    page[kEntriesBytes + 2] = static_cast<std::uint8_t>(entrySize);
    page[kEntriesBytes + 3] = static_cast<std::uint8_t>(level);
    page[496] = ptype;
    page[497] = ptype;
    PutU16(page, 498, BlockSignature(ib, bid));
    PutU32(page, 500, Crc32(page.data(), 496));
    PutU64(page, 504, bid);
    padTo(ib);
    writeRaw(page.data(), page.size());
    return {firstKey, bid, ib};
}

NdbWriter::PageRef NdbWriter::writeBTree(std::uint8_t ptype, std::vector<Bytes> leafEntries,
                                         std::vector<std::uint64_t> keys, int leafSize,
                                         int leafMax) {
    std::vector<PageRef> level;
    if (leafEntries.empty()) {
        level.push_back(writeBTreePage(ptype, 0, {}, 0, leafSize, leafMax, 0));
    }
    for (std::size_t i = 0; i < leafEntries.size(); i += leafMax) {
        const std::size_t n = std::min<std::size_t>(leafMax, leafEntries.size() - i);
        Bytes entries;
        for (std::size_t k = i; k < i + n; ++k) {
            entries.insert(entries.end(), leafEntries[k].begin(), leafEntries[k].end());
        }
        level.push_back(
            writeBTreePage(ptype, 0, entries, static_cast<int>(n), leafSize, leafMax, keys[i]));
    }
    for (int depth = 1; level.size() > 1; ++depth) {
        std::vector<PageRef> up;
        for (std::size_t i = 0; i < level.size(); i += kBranchMax) {
            const std::size_t n = std::min<std::size_t>(kBranchMax, level.size() - i);
            Bytes entries;
            for (std::size_t k = i; k < i + n; ++k) {
                AppendU64(entries, level[k].key);
                AppendU64(entries, level[k].bid);
                AppendU64(entries, level[k].ib);
            }
            up.push_back(writeBTreePage(ptype, depth, entries, static_cast<int>(n), kBranchSize,
                                        kBranchMax, level[i].key));
        }
        level = std::move(up);
    }
    return level[0];
}

void NdbWriter::finish(const std::array<std::uint32_t, 32>& nextNid) {
    std::sort(m_blocks.begin(), m_blocks.end(),
              [](const BlockEntry& a, const BlockEntry& b) { return a.bid < b.bid; });
    std::sort(m_nodes.begin(), m_nodes.end(),
              [](const NodeEntry& a, const NodeEntry& b) { return a.nid < b.nid; });
    for (std::size_t i = 1; i < m_nodes.size(); ++i) {
        if (m_nodes[i].nid == m_nodes[i - 1].nid) {
            throw PstError("node entered twice"); // a fault of this writer, never of the data
        }
    }
    std::vector<Bytes> entries;
    std::vector<std::uint64_t> keys;
    entries.reserve(m_blocks.size());
    for (const BlockEntry& b : m_blocks) {
        Bytes e;
        AppendU64(e, b.bid);
        AppendU64(e, b.ib);
        AppendU16(e, b.cb);
        AppendU16(e, 2); // references: the tree and the node or block that uses it
        AppendU32(e, 0);
        entries.push_back(std::move(e));
        keys.push_back(b.bid);
    }
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    const PageRef bbt = writeBTree(0x80, std::move(entries), std::move(keys), 24, 20);
    entries.clear();
    keys.clear();
    for (const NodeEntry& n : m_nodes) {
        Bytes e;
        AppendU64(e, n.nid);
        AppendU64(e, n.ref.data);
        AppendU64(e, n.ref.sub);
        AppendU32(e, n.parent);
        AppendU32(e, 0);
        entries.push_back(std::move(e));
        keys.push_back(n.nid);
    }
    const PageRef nbt = writeBTree(0x81, std::move(entries), std::move(keys), 32, 15);
    closeRegion();
    // The file grows in whole regions.
    padTo(RegionStart(m_region + 1));
    for (std::uint64_t k = 0; k <= m_region; ++k) {
        const std::uint64_t start = RegionStart(k);
        std::uint64_t at = start + kPageSize * (k % 8 == 0 ? 2 : 1);
        if (k >= 128 && (k - 128) % 496 == 0) {
            Bytes bits(496, 0);
            for (std::size_t i = 0; i < 496 && k + i < m_longestFree.size(); ++i) {
                bits[i] = m_longestFree[k + i];
            }
            putAt(at, mapPage(0x82, bits, at));
            at += kPageSize;
        }
        if (k >= 1024 && (k - 1024) % (496 * 8) == 0) {
            putAt(at, mapPage(0x85, Bytes(496, 0), at));
        }
    }
    writeHeader(nextNid, nbt, bbt);
    m_file.flush();
    if (!m_file) {
        fail("could not be written");
    }
    m_file.close();
    if (m_file.fail()) {
        fail("could not be written");
    }
}

void NdbWriter::writeHeader(const std::array<std::uint32_t, 32>& nextNid, const PageRef& nbt,
                            const PageRef& bbt) {
    Bytes h(564, 0);
    const std::uint8_t magic[4] = {'!', 'B', 'D', 'N'};
    std::copy_n(magic, 4, h.begin());
    h[8] = 'S';
    h[9] = 'M';
    PutU16(h, 10, 23); // Unicode
    PutU16(h, 12, 19);
    h[14] = 1;
    h[15] = 1;
    PutU64(h, 32, m_nextBid); // next page id
    PutU32(h, 40, 1);
    for (std::size_t i = 0; i < 32; ++i) {
        PutU32(h, 44 + 4 * i, nextNid[i]);
    }
    const std::size_t root = 180;
    PutU64(h, root + 4, RegionStart(m_region + 1));
    PutU64(h, root + 12, RegionStart(m_region));
    PutU64(h, root + 20, m_freeBytes);
    PutU64(h, root + 28, 0);
    PutU64(h, root + 36, nbt.bid);
    PutU64(h, root + 44, nbt.ib);
    PutU64(h, root + 52, bbt.bid);
    PutU64(h, root + 60, bbt.ib);
    h[root + 68] = 0x02; // the allocation maps are valid
    for (std::size_t i = 0; i < 128; ++i) {
        h[256 + i] = i < m_longestFree.size() ? m_longestFree[i] : 0;
    }
    h[512] = 0x80;
    h[513] = m_permute ? 0x01 : 0x00;
    PutU64(h, 516, m_nextBid); // next block id
    PutU32(h, 4, Crc32(h.data() + 8, 471));
    PutU32(h, 524, Crc32(h.data() + 8, 516));
    putAt(0, h);
}

} // namespace edb::pst
