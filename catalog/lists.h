#pragma once
// The catalog's lists of pages, offsets, folders and long-value keys. Lists keep insertion
// order; every duplicate test goes through a hash side index. Lists that another thread may walk
// while the scan appends are AppendLists (a node is published only when complete).
#include "catalog/append_list.h"
#include "catalog/flat_index.h"
#include "io/bytes.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace edb {

using FolderId = StoreId; // the same 8 bytes as every store id

[[nodiscard]] bool IsZero(const FolderId& id);
[[nodiscard]] std::string ToHex(const FolderId& id); // 16 lowercase digits, stored order
// The 8 id bytes as one number, for hash indexes.
[[nodiscard]] inline std::uint64_t IdKey(const FolderId& id) {
    std::uint64_t k = 0;
    std::memcpy(&k, id.data(), sizeof k);
    return k;
}

// Opaque handle of a tree item (a window tree item, or a node of a command-line tree); the tree
// build hands them out, the catalog never keeps one.
using TreeItem = std::uintptr_t;

struct PageEntry {
    std::uint32_t owner = 0;
    std::uint64_t offset = 0;
    // What the first pass noted from the page for a later stage (chunk pages: their body
    // reference), so that stage need not read the page again.
    std::uint32_t note = 0;
};

class PageList {
public:
    // False when (owner, offset) is already listed.
    bool AddPage(std::uint32_t owner, std::uint64_t offset, std::uint32_t note = 0);
    void clear();
    [[nodiscard]] const std::vector<PageEntry>& entries() const { return m_entries; }
    [[nodiscard]] std::size_t size() const { return m_entries.size(); }

private:
    struct KeyHash {
        std::size_t operator()(const PageEntry& e) const noexcept {
            return std::hash<std::uint64_t>{}(e.offset * 0x9E3779B97F4A7C15ULL ^ e.owner);
        }
    };
    struct KeyEq {
        bool operator()(const PageEntry& a, const PageEntry& b) const noexcept {
            return a.owner == b.owner && a.offset == b.offset;
        }
    };
    std::vector<PageEntry> m_entries;
    // The first pass appends in rising offset order: that prefix is searched by offset and
    // needs no hashing. Only entries after it go into the hash index.
    std::size_t m_sortedEnd = 0;
    std::unordered_set<PageEntry, KeyHash, KeyEq> m_index;
};

// Offsets each held once, in order of first insertion. Small lists search linearly; a hash
// index is built once a list grows.
class OffsetList {
public:
    bool AddOffset(std::uint64_t offset);
    void clear();
    [[nodiscard]] const std::vector<std::uint64_t>& values() const { return m_values; }
    [[nodiscard]] std::size_t size() const { return m_values.size(); }
    [[nodiscard]] bool empty() const { return m_values.empty(); }
    [[nodiscard]] bool contains(std::uint64_t offset) const;

private:
    static constexpr std::size_t kIndexFrom = 32;
    std::vector<std::uint64_t> m_values;
    std::unique_ptr<std::unordered_set<std::uint64_t>> m_index;
};

constexpr char kKindAppointment = 'a';
constexpr char kKindContact = 'c';

struct FolderNode {
    FolderNode(const FolderId& id_, const FolderId& parent_, std::string name_, char kind_)
        : id(id_), parentId(parent_), name(std::move(name_)), kind(kind_) {}
    FolderNode(const FolderNode& o)
        : id(o.id), parentId(o.parentId), name(o.name), tableFound(o.tableFound.load()),
          kind(o.kind) {}

    FolderId id{};
    FolderId parentId{};
    std::string name; // UTF-8, never empty
    std::atomic<bool> tableFound{false};
    char kind = 0; // 'a', 'c' or 0

    [[nodiscard]] bool isMailbox() const { return IsZero(parentId); }
};

class FolderList {
public:
    // False for an empty name, an all-zero id, or an entry with equal parentId, id and name.
    bool AddFolder(const FolderId& parentId, const FolderId& id, std::string_view name, char kind);
    [[nodiscard]] bool contains(const FolderId& parentId, const FolderId& id,
                                std::string_view name) const;
    [[nodiscard]] std::size_t size() const { return m_list.size(); }
    [[nodiscard]] bool empty() const { return m_list.empty(); }
    AppendList<FolderNode>::iterator begin() { return m_list.begin(); }
    AppendList<FolderNode>::iterator end() { return m_list.end(); }
    [[nodiscard]] AppendList<FolderNode>::const_iterator begin() const { return m_list.begin(); }
    [[nodiscard]] AppendList<FolderNode>::const_iterator end() const { return m_list.end(); }
    // Writer only: the last node appended.
    [[nodiscard]] FolderNode* last() { return m_last; }

private:
    static std::string key(const FolderId& parentId, const FolderId& id, std::string_view name);
    AppendList<FolderNode> m_list;
    std::unordered_set<std::string> m_index;
    FolderNode* m_last = nullptr;
};

struct LongValueKey {
    std::uint16_t reference = 0;
    OffsetList offsets;
};

class LongValueKeyList {
public:
    bool AddKey(std::uint16_t reference);
    void clear();
    [[nodiscard]] std::vector<LongValueKey>& keys() { return m_keys; }
    [[nodiscard]] const std::vector<LongValueKey>& keys() const { return m_keys; }
    [[nodiscard]] LongValueKey* find(std::uint16_t reference);

private:
    std::vector<LongValueKey> m_keys;
    // Place of each reference in m_keys plus one (0: none); all 65536 references, made on the
    // first AddKey, since the matcher looks a reference up for every record of every page.
    std::vector<std::uint32_t> m_place;
};

} // namespace edb
