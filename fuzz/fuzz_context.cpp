#include "fuzz/fuzz_context.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace edbfuzz {

namespace {
edb::FolderId id8(std::uint64_t n) {
    edb::FolderId id{0x01, 0x00};
    for (int i = 0; i < 6; ++i) {
        id[7 - i] = static_cast<std::uint8_t>(n >> (8 * i));
    }
    return id;
}
} // namespace

edb::FolderId mailboxId() {
    return id8(0x100);
}
edb::FolderId inboxId() {
    return id8(0x101);
}
edb::FolderId contactsId() {
    return id8(0x102);
}
edb::FolderId messageId(int k) {
    return id8(0x1000 + static_cast<std::uint64_t>(k));
}
edb::FolderId attachmentId(int k) {
    // 01 00 00 00 00 and k as three big-endian bytes, as attachment records carry them.
    return {0x01,
            0x00,
            0x00,
            0x00,
            0x00,
            static_cast<std::uint8_t>(k >> 16),
            static_cast<std::uint8_t>(k >> 8),
            static_cast<std::uint8_t>(k)};
}

MemoryStore::MemoryStore() {
    m_fd = ::memfd_create("edb-fuzz-store", MFD_CLOEXEC);
    if (m_fd < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    m_path = "/proc/self/fd/" + std::to_string(m_fd);
}

MemoryStore::~MemoryStore() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void MemoryStore::assign(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(m_fd, 0) != 0 || ::ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
        std::abort();
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t w = ::pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
        if (w <= 0) {
            std::abort();
        }
        done += static_cast<std::size_t>(w);
    }
}

MemoryStore& memoryStore() {
    static MemoryStore store;
    return store;
}

bool openContext(edb::StoreCatalog& catalog, const std::uint8_t* data, std::size_t size) {
    MemoryStore& store = memoryStore();
    store.assign(data, size);
    if (!catalog.storeFile.Open(store.path())) {
        return false;
    }
    catalog.storeSize = size;
    catalog.n1013Code = {0x5C, 0x01};

    const edb::FolderId none{};
    catalog.folderList.AddFolder(none, mailboxId(), "Fuzz Box", 0);
    catalog.folderList.AddFolder(mailboxId(), inboxId(), "Inbox", 0);
    catalog.folderList.AddFolder(mailboxId(), contactsId(), "Contacts", edb::kKindContact);

    catalog.folderTables.AddFolderTable(inboxId(), kInboxTable, 0, edb::OffsetList{});
    catalog.folderTables.AddFolderTable(contactsId(), kContactsTable, edb::kKindContact,
                                        edb::OffsetList{});
    for (int k = 1; k <= 4; ++k) {
        catalog.messages.AddMessage(k == 4 ? contactsId() : inboxId(), messageId(k),
                                    "subject " + std::to_string(k), "", 0,
                                    k == 4 ? edb::kKindContact : 0);
    }
    int k = 0;
    for (edb::MessageEntry& m : catalog.messages) {
        ++k;
        if (k == 1) {
            m.primaryBody.reference = kPrimaryReference;
            m.formattedBody.reference = kFormattedReference;
        } else if (k == 2) {
            m.primaryBody.reference = kSecondReference;
            m.attachmentIds = {attachmentId(1), attachmentId(2)};
        } else if (k == 3) {
            m.attachmentIds = {attachmentId(2)};
        }
    }
    catalog.messages.markLateIndexesStale();
    catalog.longValueKeys.AddKey(kAttachmentReference);
    catalog.longValueKeys.AddKey(kPrimaryReference);
    return true;
}

edb::ByteView firstPage(const std::uint8_t* data, std::size_t size) {
    return edb::ByteView(data, size < edb::kPageSize ? size : edb::kPageSize);
}

} // namespace edbfuzz
