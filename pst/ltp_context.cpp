#include "pst/ltp_context.h"

#include "pst/ltp_heap.h"

#include <algorithm>

namespace edb::pst {
namespace {

constexpr std::uint32_t kTagRowId = 0x67F20003;
constexpr std::uint32_t kTagRowVersion = 0x67F30003;

// Values beyond the heap's limit: each in a subnode of its own, named by a node id of the
// LTP kind that the heap record or table cell holds instead of an HID.
class LargeValues {
public:
    LargeValues(NdbWriter& ndb, std::vector<SubnodeEntry>& subnodes)
        : m_ndb(ndb), m_subnodes(subnodes) {}
    std::uint32_t place(Heap& heap, const Bytes& value) {
        if (value.size() <= kMaxHeapAlloc) {
            return heap.allocate(value);
        }
        const std::uint32_t nid = MakeNid(kNidLtp, m_next++);
        m_subnodes.push_back({nid, {m_ndb.writeData(value.data(), value.size()), 0}});
        return nid;
    }
    std::uint32_t nextNid() { return MakeNid(kNidLtp, m_next++); }

private:
    NdbWriter& m_ndb;
    std::vector<SubnodeEntry>& m_subnodes;
    std::uint32_t m_next = 1;
};

// A table cell's width: fixed-size values in place, anything else as a 4-byte HNID.
std::size_t CellSize(std::uint32_t tag) {
    const std::size_t fixed = FixedSize(static_cast<std::uint16_t>(tag & 0xFFFF));
    if (fixed == 0) {
        return 4;
    }
    return fixed;
}

struct Column {
    std::uint32_t tag;
    std::uint16_t offset = 0;
    std::uint8_t size = 0;
    std::uint8_t bit = 0;
};

} // namespace

std::size_t FixedSize(std::uint16_t type) {
    switch (type) {
    case kPtBoolean:
        return 1;
    case kPtShort:
        return 2;
    case kPtLong:
    case 0x0004: // float
    case 0x000A: // error code
        return 4;
    case 0x0005: // double
    case 0x0006: // currency
    case 0x0007: // application time
    case kPtI8:
    case kPtSysTime:
        return 8;
    default:
        return 0;
    }
}

void PropertyBag::setLong(std::uint32_t tag, std::uint32_t v) {
    Bytes b;
    AppendU32(b, v);
    set(tag, std::move(b));
}

void PropertyBag::setTime(std::uint32_t tag, std::uint64_t filetime) {
    Bytes b;
    AppendU64(b, filetime);
    set(tag, std::move(b));
}

const Bytes* PropertyBag::find(std::uint32_t tag) const {
    const auto it = m_values.find(tag);
    return it == m_values.end() ? nullptr : &it->second;
}

NodeRef WritePropertyContext(NdbWriter& ndb, const PropertyBag& props,
                             std::vector<SubnodeEntry> subnodes) {
    Heap heap(kHeapProperty);
    LargeValues large(ndb, subnodes);
    std::vector<Bytes> records;
    for (const auto& [tag, value] : props.values()) {
        const auto type = static_cast<std::uint16_t>(tag & 0xFFFF);
        Bytes r;
        AppendU16(r, static_cast<std::uint16_t>(tag >> 16));
        AppendU16(r, type);
        const std::size_t fixed = FixedSize(type);
        if (fixed > 0 && fixed <= 4) {
            Bytes inline4(4, 0);
            std::copy_n(value.begin(), std::min<std::size_t>(value.size(), 4), inline4.begin());
            r.insert(r.end(), inline4.begin(), inline4.end());
        } else {
            AppendU32(r, large.place(heap, value));
        }
        records.push_back(std::move(r));
    }
    heap.setRoot(BuildBth(heap, 2, 6, records));
    NodeRef ref;
    ref.data = ndb.writePages(heap.pages());
    ref.sub = ndb.writeSubnodes(std::move(subnodes));
    return ref;
}

NodeRef WriteTableContext(NdbWriter& ndb, std::vector<std::uint32_t> tags,
                          const std::vector<TableRow>& rows) {
    tags.erase(std::remove_if(tags.begin(), tags.end(),
                              [](std::uint32_t t) { return t == kTagRowId || t == kTagRowVersion; }),
               tags.end());
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    // Row layout: id and version first, then 8- and 4-byte cells, 2-byte, 1-byte, and the
    // cell existence bitmap.
    std::vector<Column> columns{{kTagRowId}, {kTagRowVersion}};
    for (const std::size_t width : {std::size_t{8}, std::size_t{4}, std::size_t{2}, std::size_t{1}}) {
        for (const std::uint32_t t : tags) {
            if (CellSize(t) == width) {
                columns.push_back({t});
            }
        }
    }
    std::uint16_t at = 0;
    std::uint16_t ends[3] = {0, 0, 0};
    for (std::size_t i = 0; i < columns.size(); ++i) {
        columns[i].size = static_cast<std::uint8_t>(CellSize(columns[i].tag));
        columns[i].offset = at;
        columns[i].bit = static_cast<std::uint8_t>(i);
        at = static_cast<std::uint16_t>(at + columns[i].size);
        const int group = columns[i].size >= 4 ? 0 : columns[i].size == 2 ? 1 : 2;
        for (int g = group; g < 3; ++g) {
            ends[g] = at;
        }
    }
    const std::size_t rowSize = at + (columns.size() + 7) / 8;

    Heap heap(kHeapTable);
    std::vector<SubnodeEntry> subnodes;
    LargeValues large(ndb, subnodes);
    Bytes matrix;
    matrix.reserve(rows.size() * rowSize);
    std::vector<Bytes> index;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        Bytes row(rowSize, 0);
        PutU32(row, 0, rows[r].id);
        for (const Column& c : columns) {
            const Bytes* v = c.tag == kTagRowId || c.tag == kTagRowVersion
                                 ? nullptr
                                 : rows[r].values.find(c.tag);
            if (v == nullptr && c.tag != kTagRowId && c.tag != kTagRowVersion) {
                continue;
            }
            if (v != nullptr) {
                if (FixedSize(static_cast<std::uint16_t>(c.tag & 0xFFFF)) != 0) {
                    std::copy_n(v->begin(), std::min<std::size_t>(v->size(), c.size),
                                row.begin() + c.offset);
                } else {
                    PutU32(row, c.offset, large.place(heap, *v));
                }
            }
            row[at + c.bit / 8] |= static_cast<std::uint8_t>(0x80U >> (c.bit % 8));
        }
        matrix.insert(matrix.end(), row.begin(), row.end());
        Bytes key;
        AppendU32(key, rows[r].id);
        AppendU32(key, static_cast<std::uint32_t>(r));
        index.push_back(std::move(key));
    }
    std::sort(index.begin(), index.end(), [](const Bytes& a, const Bytes& b) {
        const auto ka = static_cast<std::uint32_t>(a[0] | a[1] << 8 | a[2] << 16 | a[3] << 24);
        const auto kb = static_cast<std::uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
        return ka < kb;
    });
    const std::uint32_t rowIndex = BuildBth(heap, 4, 4, index);
    std::uint32_t rowsRef = 0;
    if (!matrix.empty() && matrix.size() <= kMaxHeapAlloc) {
        rowsRef = heap.allocate(matrix);
    } else if (!matrix.empty()) {
        // Rows never straddle blocks: each block holds as many whole rows as fit.
        const std::size_t perBlock = kMaxBlockData / rowSize;
        std::vector<Bytes> pages;
        for (std::size_t i = 0; i < matrix.size(); i += perBlock * rowSize) {
            const std::size_t n = std::min(perBlock * rowSize, matrix.size() - i);
            pages.emplace_back(matrix.begin() + static_cast<std::ptrdiff_t>(i),
                               matrix.begin() + static_cast<std::ptrdiff_t>(i + n));
        }
        rowsRef = large.nextNid();
        subnodes.push_back({rowsRef, {ndb.writePages(pages), 0}});
    }
    std::vector<Column> described = columns;
    std::sort(described.begin(), described.end(),
              [](const Column& a, const Column& b) { return a.tag < b.tag; });
    Bytes info{kHeapTable, static_cast<std::uint8_t>(described.size())};
    AppendU16(info, ends[0]);
    AppendU16(info, ends[1]);
    AppendU16(info, ends[2]);
    AppendU16(info, static_cast<std::uint16_t>(rowSize));
    AppendU32(info, rowIndex);
    AppendU32(info, rowsRef);
    AppendU32(info, 0);
    for (const Column& c : described) {
        AppendU32(info, c.tag);
        AppendU16(info, c.offset);
        info.push_back(c.size);
        info.push_back(c.bit);
    }
    heap.setRoot(heap.allocate(info));
    NodeRef ref;
    ref.data = ndb.writePages(heap.pages());
    ref.sub = ndb.writeSubnodes(std::move(subnodes));
    return ref;
}

} // namespace edb::pst
