#include "catalog/catalog.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace edb {

bool IsZero(const FolderId& id) {
    for (const auto b : id) {
        if (b != 0) {
            return false;
        }
    }
    return true;
}

std::string ToHex(const FolderId& id) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(16);
    for (const auto b : id) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

bool PageList::AddPage(std::uint32_t owner, std::uint64_t offset, std::uint32_t note) {
    const PageEntry e{owner, offset, note};
    if (m_sortedEnd == m_entries.size() &&
        (m_entries.empty() || offset > m_entries.back().offset)) {
        m_entries.push_back(e);
        ++m_sortedEnd;
        return true;
    }
    const auto prefixEnd = m_entries.begin() + static_cast<std::ptrdiff_t>(m_sortedEnd);
    const auto it =
        std::lower_bound(m_entries.begin(), prefixEnd, offset,
                         [](const PageEntry& a, std::uint64_t o) { return a.offset < o; });
    if (it != prefixEnd && it->offset == offset && it->owner == owner) {
        return false;
    }
    if (!m_index.insert(e).second) {
        return false;
    }
    m_entries.push_back(e);
    return true;
}

void PageList::clear() {
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_sortedEnd = 0;
    m_index = {};
}

bool OffsetList::AddOffset(std::uint64_t offset) {
    if (contains(offset)) {
        return false;
    }
    m_values.push_back(offset);
    if (m_index) {
        m_index->insert(offset);
    } else if (m_values.size() >= kIndexFrom) {
        m_index =
            std::make_unique<std::unordered_set<std::uint64_t>>(m_values.begin(), m_values.end());
    }
    return true;
}

bool OffsetList::contains(std::uint64_t offset) const {
    if (m_index) {
        return m_index->count(offset) != 0;
    }
    for (const auto v : m_values) {
        if (v == offset) {
            return true;
        }
    }
    return false;
}

void OffsetList::clear() {
    m_values.clear();
    m_index.reset();
}

std::string FolderList::key(const FolderId& parentId, const FolderId& id, std::string_view name) {
    std::string k;
    k.reserve(16 + name.size());
    k.append(reinterpret_cast<const char*>(parentId.data()), parentId.size());
    k.append(reinterpret_cast<const char*>(id.data()), id.size());
    k.append(name);
    return k;
}

bool FolderList::contains(const FolderId& parentId, const FolderId& id,
                          std::string_view name) const {
    return m_index.count(key(parentId, id, name)) != 0;
}

bool FolderList::AddFolder(const FolderId& parentId, const FolderId& id, std::string_view name,
                           char kind) {
    if (name.empty() || IsZero(id)) {
        return false;
    }
    if (!m_index.insert(key(parentId, id, name)).second) {
        return false;
    }
    m_last = &m_list.emplace_back(id, parentId, std::string(name), kind);
    return true;
}

bool LongValueKeyList::AddKey(std::uint16_t reference) {
    if (m_place.empty()) {
        m_place.assign(std::size_t{1} << 16, 0);
    }
    if (m_place[reference] != 0) {
        return false;
    }
    m_keys.push_back(LongValueKey{reference, {}});
    m_place[reference] = static_cast<std::uint32_t>(m_keys.size());
    return true;
}

LongValueKey* LongValueKeyList::find(std::uint16_t reference) {
    if (m_place.empty() || m_place[reference] == 0) {
        return nullptr;
    }
    return &m_keys[m_place[reference] - 1];
}

void LongValueKeyList::clear() {
    m_keys.clear();
    m_keys.shrink_to_fit();
    m_place.clear();
    m_place.shrink_to_fit();
}

} // namespace edb
