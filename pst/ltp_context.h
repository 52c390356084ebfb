#pragma once
// Property contexts (one object's properties) and table contexts (rows of properties) on a
// heap-on-node, written through the node database; values too large for the heap go to
// subnodes of the node.
#include "pst/ndb_writer.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace edb::pst {

// Property types as tags carry them in their low 16 bits.
enum PropType : std::uint16_t {
    kPtShort = 0x0002,
    kPtLong = 0x0003,
    kPtBoolean = 0x000B,
    kPtI8 = 0x0014,
    kPtString8 = 0x001E,
    kPtUnicode = 0x001F,
    kPtSysTime = 0x0040,
    kPtBinary = 0x0102,
};

// Bytes per value of a fixed-size type; 0 for the variable-size ones.
[[nodiscard]] std::size_t FixedSize(std::uint16_t type);

// Property values by tag (id in the high 16 bits, type in the low), as their bytes.
class PropertyBag {
public:
    void set(std::uint32_t tag, Bytes value) { m_values[tag] = std::move(value); }
    void setString(std::uint32_t tag, const std::string& utf8) { set(tag, Utf16(utf8)); }
    void setLong(std::uint32_t tag, std::uint32_t v);
    void setBool(std::uint32_t tag, bool v) { set(tag, Bytes{static_cast<std::uint8_t>(v ? 1 : 0)}); }
    void setTime(std::uint32_t tag, std::uint64_t filetime);
    [[nodiscard]] const Bytes* find(std::uint32_t tag) const;
    [[nodiscard]] const std::map<std::uint32_t, Bytes>& values() const { return m_values; }

private:
    std::map<std::uint32_t, Bytes> m_values;
};

// Writes `props` as a property context; `subnodes` (tables, attachments) join its subnode tree.
[[nodiscard]] NodeRef WritePropertyContext(NdbWriter& ndb, const PropertyBag& props,
                                           std::vector<SubnodeEntry> subnodes = {});

struct TableRow {
    std::uint32_t id = 0; // the row's id (a folder's or message's node id, or a position)
    PropertyBag values;
};

// Writes a table context with `columns` (tags; the row id and row version columns are added)
// and `rows` in order; a cell exists where the row has a value for the column.
[[nodiscard]] NodeRef WriteTableContext(NdbWriter& ndb, std::vector<std::uint32_t> columns,
                                        const std::vector<TableRow>& rows);

} // namespace edb::pst
