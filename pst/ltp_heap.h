#pragma once
// Heap-on-node: a node's data split into heap pages of small allocations named by HIDs, and the
// B-tree-on-heap (BTH) that property and table contexts keep their sorted records in.
#include "pst/ndb_format.h"

#include <cstdint>
#include <vector>

namespace edb::pst {

inline constexpr std::size_t kMaxHeapAlloc = 3580; // larger values go to a subnode

inline constexpr std::uint8_t kHeapTable = 0x7C;    // table context
inline constexpr std::uint8_t kHeapProperty = 0xBC; // property context
inline constexpr std::uint8_t kBthSignature = 0xB5;

class Heap {
public:
    explicit Heap(std::uint8_t clientSignature) : m_client(clientSignature) {
        m_pages.emplace_back();
    }
    // Places `data` (at most kMaxHeapAlloc bytes; empty is allowed) and returns its HID.
    [[nodiscard]] std::uint32_t allocate(const Bytes& data);
    void setRoot(std::uint32_t hid) { m_root = hid; }
    // The heap's pages, each one data block of the node.
    [[nodiscard]] std::vector<Bytes> pages() const;

private:
    struct Page {
        std::vector<Bytes> allocations;
        std::size_t used = 0;
    };
    std::uint8_t m_client;
    std::uint32_t m_root = 0;
    std::vector<Page> m_pages;
};

// Builds a BTH over `records` (each key followed by its data, sorted by key) and returns the
// HID of its header; intermediate levels are added when one allocation cannot hold them all.
[[nodiscard]] std::uint32_t BuildBth(Heap& heap, std::uint8_t keySize, std::uint8_t dataSize,
                                     const std::vector<Bytes>& records);

} // namespace edb::pst
