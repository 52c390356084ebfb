#pragma once
// What the fuzz targets share: a store file in memory that CFile64 can open, a scan host that
// says nothing, and the catalog state each decoder meets in a real scan (folders, a contents
// table, messages with long-value references and attachment ids). The seed generator builds its
// records with the same ids, so the seeds reach past the id tests from the first run.
#include "catalog/catalog.h"
#include "scan/scan.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace edbfuzz {

// Ids and numbers of the context (also written by the seed generator).
edb::FolderId mailboxId();                 // the mailbox "Fuzz Box"
edb::FolderId inboxId();                   // a folder under it
edb::FolderId contactsId();                // a contact folder under it
edb::FolderId messageId(int k);            // k = 1..4
edb::FolderId attachmentId(int k);         // k = 1..2
constexpr std::uint32_t kInboxTable = 300; // contents table object ids
constexpr std::uint32_t kContactsTable = 301;
constexpr std::uint16_t kPrimaryReference = 0x21;   // message 1, long-value plain body
constexpr std::uint16_t kFormattedReference = 0x22; // message 1, long-value formatted body
constexpr std::uint16_t kSecondReference = 0x23;    // message 2, long-value plain body
constexpr std::uint16_t kAttachmentReference = 0x24;
constexpr std::uint32_t kLongValueOwner = 122;

// A memory-backed file with a path that CFile64 opens like any store file.
class MemoryStore {
public:
    MemoryStore();
    ~MemoryStore();
    MemoryStore(const MemoryStore&) = delete;
    MemoryStore& operator=(const MemoryStore&) = delete;
    void assign(const std::uint8_t* data, std::size_t size);
    [[nodiscard]] const std::string& path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};

// The process's one memory store (fuzz targets run one input at a time).
MemoryStore& memoryStore();

class QuietHost : public edb::ScanHost {
public:
    void progress(std::int64_t) override {}
    void mailboxRowsReady(const std::vector<std::string>&) override {}
};

// Opens `data` as the catalog's store file and fills the context; returns false when the
// memory store cannot be opened (then the target does nothing).
bool openContext(edb::StoreCatalog& catalog, const std::uint8_t* data, std::size_t size);

// The first page of the input (4096 bytes, or less), the page the decoder targets judge.
edb::ByteView firstPage(const std::uint8_t* data, std::size_t size);

} // namespace edbfuzz
