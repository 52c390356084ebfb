#include "pst/ndb_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace edb::pst {
namespace {

constexpr std::uint64_t kFirstMap = 0x4400;
constexpr std::uint64_t kRegionSize = 496ULL * 8 * 64; // bytes one allocation map covers
constexpr std::size_t kMapBytes = 496;
constexpr std::size_t kXEntries = (kMaxBlockData - 8) / 8;   // block ids per XBLOCK
constexpr std::size_t kSlEntries = (kMaxBlockData - 8) / 24; // entries per SLBLOCK
constexpr std::size_t kSiEntries = (kMaxBlockData - 8) / 16; // entries per SIBLOCK
constexpr std::uint8_t kTypePMap = 0x83;
constexpr std::uint8_t kTypeAMap = 0x84;

constexpr std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

bool HasPMap(std::uint64_t k) { return k % 8 == 0; }
bool HasFMap(std::uint64_t k) { return k >= 128 && (k - 128) % 496 == 0; }
bool HasFPMap(std::uint64_t k) { return k >= 1024 && (k - 1024) % (496 * 8) == 0; }

} // namespace

std::uint64_t RegionStart(std::uint64_t region) { return kFirstMap + region * kRegionSize; }

int MapPagesAt(std::uint64_t region) {
    return 1 + (HasPMap(region) ? 1 : 0) + (HasFMap(region) ? 1 : 0) + (HasFPMap(region) ? 1 : 0);
}

NdbWriter::NdbWriter(const std::filesystem::path& file, bool permute)
    : m_path(file), m_permute(permute) {
    m_file.open(file, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
    if (!m_file) {
        fail("cannot be created");
    }
    enterRegion(0);
}

void NdbWriter::fail(const std::string& what) const {
    const int err = errno;
    std::string reason = what;
    if (err != 0 && what.rfind("could not", 0) == 0) {
        reason += " (" + std::generic_category().message(err) + ")";
    }
    throw PstError(m_path.string() + ": " + reason);
}

void NdbWriter::park() {
    if (m_file.is_open()) {
        errno = 0;
        m_file.close();
        if (m_file.fail()) {
            fail("could not be written");
        }
    }
}

void NdbWriter::reopen() {
    if (!m_file.is_open()) {
        m_file.clear();
        errno = 0;
        m_file.open(m_path, std::ios::binary | std::ios::in | std::ios::out);
        m_file.seekp(static_cast<std::streamoff>(m_end));
        if (!m_file) {
            fail("could not be opened again");
        }
    }
}

void NdbWriter::writeRaw(const std::uint8_t* data, std::size_t size) {
    reopen();
    errno = 0;
    m_file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!m_file) {
        fail("could not be written");
    }
    m_end += size;
}

void NdbWriter::padTo(std::uint64_t pos) {
    static const std::uint8_t zeros[4096] = {};
    while (m_end < pos) {
        writeRaw(zeros, static_cast<std::size_t>(std::min<std::uint64_t>(pos - m_end, sizeof zeros)));
    }
}

void NdbWriter::putAt(std::uint64_t pos, const Bytes& bytes) {
    reopen();
    errno = 0;
    m_file.seekp(static_cast<std::streamoff>(pos));
    m_file.write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    m_file.seekp(static_cast<std::streamoff>(m_end));
    if (!m_file) {
        fail("could not be written");
    }
}

Bytes NdbWriter::mapPage(std::uint8_t ptype, const Bytes& bits, std::uint64_t ib) const {
    Bytes page(kPageSize, 0);
    std::copy(bits.begin(), bits.end(), page.begin());
    page[496] = ptype;
    page[497] = ptype;
    PutU32(page, 500, Crc32(page.data(), kMapBytes));
    PutU64(page, 504, ib); // map pages carry their own offset as their id
    return page;
}

void NdbWriter::enterRegion(std::uint64_t region) {
    m_region = region;
    const std::uint64_t start = RegionStart(region);
    const int pages = MapPagesAt(region);
    m_regionBits.assign(kMapBytes, 0);
    std::fill_n(m_regionBits.begin(), pages, std::uint8_t{0xFF}); // the map pages themselves
    padTo(start);
    const Bytes placeholder(kPageSize, 0);
    writeRaw(placeholder.data(), placeholder.size()); // the AMap, written when the region closes
    if (HasPMap(region)) {
        // Page maps are superseded; they stay at their places, marking every page as used.
        const Bytes page = mapPage(kTypePMap, Bytes(kMapBytes, 0xFF), start + kPageSize);
        writeRaw(page.data(), page.size());
    }
    for (int i = HasPMap(region) ? 2 : 1; i < pages; ++i) {
        writeRaw(placeholder.data(), placeholder.size()); // free maps, written at the end
    }
    m_cursor = start + static_cast<std::uint64_t>(pages) * kPageSize;
}

void NdbWriter::closeRegion() {
    int run = 0;
    int longest = 0;
    std::uint64_t freeBits = 0;
    for (std::size_t i = 0; i < kMapBytes * 8; ++i) {
        const bool used = (m_regionBits[i / 8] & (0x80U >> (i % 8))) != 0;
        run = used ? 0 : run + 1;
        freeBits += used ? 0 : 1;
        longest = std::max(longest, run);
    }
    m_longestFree.push_back(static_cast<std::uint8_t>(std::min(longest, 255)));
    m_freeBytes += freeBits * 64;
    putAt(RegionStart(m_region), mapPage(kTypeAMap, m_regionBits, RegionStart(m_region)));
}

std::uint64_t NdbWriter::allocate(std::size_t size, std::size_t align) {
    std::uint64_t pos = AlignUp(m_cursor, align);
    if (pos + size > RegionStart(m_region + 1)) {
        closeRegion();
        enterRegion(m_region + 1);
        pos = AlignUp(m_cursor, align);
    }
    for (std::uint64_t at = pos; at < pos + size; at += 64) {
        const std::uint64_t bit = (at - RegionStart(m_region)) / 64;
        m_regionBits[bit / 8] |= static_cast<std::uint8_t>(0x80U >> (bit % 8));
    }
    m_cursor = pos + size;
    return pos;
}

std::uint64_t NdbWriter::writeBlock(const std::uint8_t* data, std::size_t size, bool internal) {
    if (size > kMaxBlockData) {
        throw PstError("block too large");
    }
    const std::size_t total = AlignUp(size + 16, 64);
    const std::uint64_t ib = allocate(total, 64);
    const std::uint64_t bid = m_nextBid | (internal ? 2U : 0U);
    m_nextBid += 4;
    Bytes block(total, 0);
    std::copy_n(data, size, block.begin());
    if (!internal && m_permute) {
        PermuteEncode(block.data(), size);
    }
    const std::size_t t = total - 16;
    PutU16(block, t, static_cast<std::uint16_t>(size));
    PutU16(block, t + 2, BlockSignature(ib, bid));
    PutU32(block, t + 4, Crc32(block.data(), size));
    PutU64(block, t + 8, bid);
    padTo(ib);
    writeRaw(block.data(), block.size());
    m_blocks.push_back({bid, ib, static_cast<std::uint16_t>(size)});
    return bid;
}

std::uint64_t NdbWriter::writeTree(const std::vector<std::uint64_t>& bids,
                                   const std::vector<std::size_t>& sizes) {
    // Level 1: XBLOCKs over the data blocks; level 2: one XXBLOCK over those when needed.
    auto xblock = [&](std::uint8_t level, const std::uint64_t* ids, std::size_t n,
                      std::uint64_t bytes) {
        Bytes b{0x01, level};
        AppendU16(b, static_cast<std::uint16_t>(n));
        AppendU32(b, static_cast<std::uint32_t>(bytes));
        for (std::size_t i = 0; i < n; ++i) {
            AppendU64(b, ids[i]);
        }
        return writeBlock(b.data(), b.size(), true);
    };
    std::uint64_t total = 0;
    for (const std::size_t s : sizes) {
        total += s;
    }
    if (total > 0xFFFFFFFFULL || bids.size() > kXEntries * kXEntries) {
        throw PstError("a value larger than 4 GB cannot be held in a PST node");
    }
    if (bids.size() <= kXEntries) {
        return xblock(1, bids.data(), bids.size(), total);
    }
    std::vector<std::uint64_t> level;
    for (std::size_t i = 0; i < bids.size(); i += kXEntries) {
        const std::size_t n = std::min(kXEntries, bids.size() - i);
        std::uint64_t bytes = 0;
        for (std::size_t k = i; k < i + n; ++k) {
            bytes += sizes[k];
        }
        level.push_back(xblock(1, bids.data() + i, n, bytes));
    }
    return xblock(2, level.data(), level.size(), total);
}

std::uint64_t NdbWriter::writeData(const std::uint8_t* data, std::size_t size) {
    if (size <= kMaxBlockData) {
        return writeBlock(data, size, false);
    }
    std::vector<std::uint64_t> bids;
    std::vector<std::size_t> sizes;
    for (std::size_t at = 0; at < size; at += kMaxBlockData) {
        sizes.push_back(std::min(kMaxBlockData, size - at));
        bids.push_back(writeBlock(data + at, sizes.back(), false));
    }
    return writeTree(bids, sizes);
}

std::uint64_t NdbWriter::writePages(const std::vector<Bytes>& pages) {
    if (pages.size() == 1) {
        return writeBlock(pages[0].data(), pages[0].size(), false);
    }
    std::vector<std::uint64_t> bids;
    std::vector<std::size_t> sizes;
    for (const Bytes& p : pages) {
        bids.push_back(writeBlock(p.data(), p.size(), false));
        sizes.push_back(p.size());
    }
    return writeTree(bids, sizes);
}

std::uint64_t NdbWriter::writeSubnodes(std::vector<SubnodeEntry> entries) {
    if (entries.empty()) {
        return 0;
    }
    std::sort(entries.begin(), entries.end(),
              [](const SubnodeEntry& a, const SubnodeEntry& b) { return a.nid < b.nid; });
    std::vector<std::pair<std::uint32_t, std::uint64_t>> leaves;
    for (std::size_t i = 0; i < entries.size(); i += kSlEntries) {
        const std::size_t n = std::min(kSlEntries, entries.size() - i);
        Bytes b{0x02, 0x00};
        AppendU16(b, static_cast<std::uint16_t>(n));
        AppendU32(b, 0);
        for (std::size_t k = i; k < i + n; ++k) {
            AppendU64(b, entries[k].nid);
            AppendU64(b, entries[k].ref.data);
            AppendU64(b, entries[k].ref.sub);
        }
        leaves.emplace_back(entries[i].nid, writeBlock(b.data(), b.size(), true));
    }
    if (leaves.size() == 1) {
        return leaves[0].second;
    }
    if (leaves.size() > kSiEntries) {
        throw PstError("too many parts in one PST message");
    }
    Bytes b{0x02, 0x01};
    AppendU16(b, static_cast<std::uint16_t>(leaves.size()));
    AppendU32(b, 0);
    for (const auto& [nid, bid] : leaves) {
        AppendU64(b, nid);
        AppendU64(b, bid);
    }
    return writeBlock(b.data(), b.size(), true);
}

void NdbWriter::addNode(std::uint32_t nid, NodeRef ref, std::uint32_t parent) {
    m_nodes.push_back({nid, ref, parent});
}

} // namespace edb::pst
