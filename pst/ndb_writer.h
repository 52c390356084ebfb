#pragma once
// The node database of a Unicode PST file, written front to back: data blocks (with trailer
// and CRC) go to the file as they are made, between the allocation map pages at their fixed
// places; only the B-tree entries stay in memory, and finish() writes the two B-trees, the
// maps that are still open and the header.
#include "pst/ndb_format.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace edb::pst {

// Writing the file failed (disk full, device gone) or its content exceeds what the format holds.
class PstError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where a node's data and its subnode tree are (block ids; 0 for none).
struct NodeRef {
    std::uint64_t data = 0;
    std::uint64_t sub = 0;
};

struct SubnodeEntry {
    std::uint32_t nid = 0;
    NodeRef ref;
};

class NdbWriter {
public:
    // Creates (or truncates) `file`. Data blocks are permuted when `permute` is set.
    NdbWriter(const std::filesystem::path& file, bool permute);
    NdbWriter(const NdbWriter&) = delete;
    NdbWriter& operator=(const NdbWriter&) = delete;

    // `size` bytes as a node's data: one block, or blocks under an XBLOCK/XXBLOCK tree.
    [[nodiscard]] std::uint64_t writeData(const std::uint8_t* data, std::size_t size);
    // Each page one data block (a heap keeps its pages apart), under a tree when several.
    [[nodiscard]] std::uint64_t writePages(const std::vector<Bytes>& pages);
    // A subnode tree (SLBLOCKs under an SIBLOCK when one is not enough); 0 when empty.
    [[nodiscard]] std::uint64_t writeSubnodes(std::vector<SubnodeEntry> entries);
    // Enters a top-level node in the node B-tree.
    void addNode(std::uint32_t nid, NodeRef ref, std::uint32_t parent);

    // rgnid: the next free index per node type, as the header keeps it.
    void finish(const std::array<std::uint32_t, 32>& nextNid);

    [[nodiscard]] std::uint64_t bytesWritten() const { return m_end; }
    // Closes the file until the next write needs it: a writer set aside holds no descriptor,
    // so an export of a thousand mailboxes does not run out of them.
    void park();

private:
    struct BlockEntry {
        std::uint64_t bid;
        std::uint64_t ib;
        std::uint16_t cb;
    };
    struct NodeEntry {
        std::uint32_t nid;
        NodeRef ref;
        std::uint32_t parent;
    };
    struct PageRef {
        std::uint64_t key;
        std::uint64_t bid;
        std::uint64_t ib;
    };

    std::uint64_t writeBlock(const std::uint8_t* data, std::size_t size, bool internal);
    std::uint64_t writeTree(const std::vector<std::uint64_t>& bids,
                            const std::vector<std::size_t>& sizes);
    std::uint64_t allocate(std::size_t size, std::size_t align);
    void enterRegion(std::uint64_t region);
    void closeRegion();
    void putAt(std::uint64_t pos, const Bytes& bytes);
    void padTo(std::uint64_t pos);
    void writeRaw(const std::uint8_t* data, std::size_t size);
    Bytes mapPage(std::uint8_t ptype, const Bytes& bits, std::uint64_t ib) const;
    PageRef writeBTreePage(std::uint8_t ptype, int level, const Bytes& entries, int count,
                           int entrySize, int maxEntries, std::uint64_t firstKey);
    PageRef writeBTree(std::uint8_t ptype, std::vector<Bytes> leafEntries,
                       std::vector<std::uint64_t> keys, int leafSize, int leafMax);
    void writeHeader(const std::array<std::uint32_t, 32>& nextNid, const PageRef& nbt,
                     const PageRef& bbt);
    [[noreturn]] void fail(const std::string& what) const;
    void reopen();

    std::filesystem::path m_path;
    std::fstream m_file;
    bool m_permute;
    std::uint64_t m_end = 0;    // bytes written so far (the file's current end)
    std::uint64_t m_cursor = 0; // next free byte
    std::uint64_t m_nextBid = 4;
    std::uint64_t m_region = 0;    // the allocation map region being filled
    Bytes m_regionBits;            // its bitmap, one bit per 64 bytes
    std::vector<std::uint8_t> m_longestFree; // per closed region, for the free maps
    std::uint64_t m_freeBytes = 0;
    std::vector<BlockEntry> m_blocks;
    std::vector<NodeEntry> m_nodes;
};

// Region layout: where the allocation map page of region k lies, and how many map pages open it.
[[nodiscard]] std::uint64_t RegionStart(std::uint64_t region);
[[nodiscard]] int MapPagesAt(std::uint64_t region);

} // namespace edb::pst
