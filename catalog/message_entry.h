#pragma once
// Messages found in contents tables, and what the properties, long-value and attachment stages
// add to them.
#include "catalog/append_list.h"
#include "catalog/flat_index.h"
#include "catalog/lists.h"
#include "io/thread_safety.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace edb {

// Where one body value lies in the store file.
struct BodyLocator {
    std::uint16_t size = 0;                 // length of the tag value
    std::uint64_t position = 0;             // store offset; 0 when unknown or long-value
    std::optional<std::uint16_t> reference; // long-value reference of a 5-byte value
    OffsetList chunks;                      // chunk-record positions of a long value
    // Beyond the locator proper, what Convert needs to read an inline value back:
    // the tag value's own range in the store file (0, 0 when unknown) and its code page.
    std::uint64_t valueStart = 0;
    std::uint64_t valueEnd = 0;
    int codePage = 0; // 1252, 1251, or 0 when unmarked
};

struct AttachmentEntry {
    std::uint16_t size = 0;     // length of the size/position value (column 0x0107)
    std::uint64_t position = 0; // store offset of the value's data; 0 for a long value
    std::string name;           // UTF-8
    std::uint16_t reference = 0;
    OffsetList chunks;
};

struct ContactEntry {
    std::string fullName;
    std::string firstName;
    std::string lastName;
    std::string homePhone;
    std::string businessPhone;
    std::string mobilePhone;
    std::string businessAddress;
    std::string emailAddress;
    bool operator==(const ContactEntry&) const = default;
};

struct MessageEntry {
    // Fixed when the entry is appended.
    FolderId messageId{};
    FolderId folderId{};
    std::string subject;
    char kind = 0;

    // Changed by later stages of the scan. Another thread reads them only inside
    // MessageList::readFields; the scan changes them only inside MessageList::updateFields
    // and, being their one writer, reads them without either.
    std::string sender;
    std::uint64_t filetime = 0; // the whole 64-bit FILETIME
    bool propertiesRead = false;
    BodyLocator primaryBody;
    BodyLocator formattedBody;
    std::vector<FolderId> attachmentIds; // released after the attachment stage
    std::vector<AttachmentEntry> attachments;
    std::vector<ContactEntry> contacts;

    // The next entry with the same message id, in list order (scan thread only: reached
    // through MessageList::byMessageId).
    MessageEntry* nextSameId = nullptr;

    // The upper six bytes of the FILETIME, as the contents table's date bytes.
    [[nodiscard]] std::array<std::uint8_t, 6> dateBytes() const;
};

// The entries of one message id, in list order.
class MessageIdGroup {
public:
    class iterator {
    public:
        explicit iterator(MessageEntry* m) : m_m(m) {}
        MessageEntry* operator*() const { return m_m; }
        iterator& operator++() {
            m_m = m_m->nextSameId;
            return *this;
        }
        bool operator==(const iterator& o) const { return m_m == o.m_m; }

    private:
        MessageEntry* m_m;
    };
    [[nodiscard]] iterator begin() const { return iterator(m_first); }
    [[nodiscard]] iterator end() const { return iterator(nullptr); }
    [[nodiscard]] std::size_t size() const { return m_size; }

private:
    friend class MessageList;
    MessageEntry* m_first = nullptr;
    MessageEntry* m_last = nullptr;
    std::size_t m_size = 0;
};

// The scan appends entries and changes their later fields; the tree build, listings, Find,
// the viewer and Convert read them on other threads meanwhile. The list owns the locking:
// readers walk the entries freely (AppendList publishes whole entries) and read the later
// fields inside readFields; the scan changes them inside updateFields. The duplicate test, the
// by-id groups and the late side indexes belong to the scan thread alone: every member that
// reaches them asserts it (debug builds stop on another thread; Clang checks the guards).
class MessageList {
public:
    // Appends, or when an entry with the same folder id, message id and subject exists,
    // overwrites its FILETIME and returns false. The texts are taken over when appended.
    // Scan thread only.
    bool AddMessage(const FolderId& folderId, const FolderId& messageId, std::string subject,
                    std::string sender, std::uint64_t filetime, char kind);

    [[nodiscard]] std::size_t size() const { return m_list.size(); }
    AppendList<MessageEntry>::iterator begin() { return m_list.begin(); }
    AppendList<MessageEntry>::iterator end() { return m_list.end(); }
    [[nodiscard]] AppendList<MessageEntry>::const_iterator begin() const { return m_list.begin(); }
    [[nodiscard]] AppendList<MessageEntry>::const_iterator end() const { return m_list.end(); }

    // Runs f() with the later fields of every entry held still (a shared lock): any thread that
    // is not the scan. Hold it around a run of entries rather than taking it per entry in a
    // long loop, and do slow work (file reads, widgets) after it, on copies.
    template <class F> decltype(auto) readFields(F&& f) const {
        ReaderLock lock(m_fieldsMutex);
        return std::forward<F>(f)();
    }
    // Runs f() with the later fields to itself (an exclusive lock): the scan, changing them.
    template <class F> decltype(auto) updateFields(F&& f) {
        WriterLock lock(m_fieldsMutex);
        return std::forward<F>(f)();
    }

    // Entries with this message id, in list order (scan thread only).
    [[nodiscard]] const MessageIdGroup* byMessageId(const FolderId& id) const;

    // Side indexes of the chunk and attachment stages, built from the list in list order on
    // first use and rebuilt after markLateIndexesStale() (scan thread only).
    // Entries whose primary or formatted body carries this long-value reference.
    [[nodiscard]] const std::vector<MessageEntry*>* byBodyReference(std::uint16_t reference);
    // Entries whose formatted body carries a long-value reference, in list order.
    [[nodiscard]] const std::vector<MessageEntry*>& withFormattedReference();
    // (position in list order, entry) for every entry whose attachment id list holds `id`.
    [[nodiscard]] const std::vector<std::pair<std::size_t, MessageEntry*>>*
    byAttachmentId(const FolderId& id);
    void markLateIndexesStale() {
        m_scanThread.assertHeld();
        m_lateIndexesStale = true;
    }

private:
    void buildLateIndexes() EDB_REQUIRES(m_scanThread);

    mutable SharedMutex m_fieldsMutex;
    ThreadRole m_scanThread;

    std::unordered_map<std::uint16_t, std::vector<MessageEntry*>>
        m_byBodyReference EDB_GUARDED_BY(m_scanThread);
    std::vector<MessageEntry*> m_withFormattedReference EDB_GUARDED_BY(m_scanThread);
    std::unordered_map<std::uint64_t, std::vector<std::pair<std::size_t, MessageEntry*>>>
        m_byAttachmentId EDB_GUARDED_BY(m_scanThread);
    bool m_lateIndexesStale EDB_GUARDED_BY(m_scanThread) = true;
    std::size_t m_lateIndexedSize EDB_GUARDED_BY(m_scanThread) = 0;

    AppendList<MessageEntry> m_list;
    // By a hash of folder id, message id and subject; entries are compared field by field.
    FlatMultiIndex<MessageEntry> m_dupIndex EDB_GUARDED_BY(m_scanThread);
    // Entries by message id: the index leads to the group of that id.
    FlatMultiIndex<MessageIdGroup> m_byId EDB_GUARDED_BY(m_scanThread);
    std::deque<MessageIdGroup> m_idGroups EDB_GUARDED_BY(m_scanThread);
};

struct FolderTable {
    FolderId folderId{};
    std::uint32_t tableObjectId = 0;
    char kind = 0;
    OffsetList pages; // positions in 512-byte units
};

class FolderTableList {
public:
    // False (and the pages dropped) when an entry with the same folder id and object id exists.
    bool AddFolderTable(const FolderId& folderId, std::uint32_t tableObjectId, char kind,
                        OffsetList&& pages);
    // First entry whose table object id equals `objectId`, or null.
    [[nodiscard]] const FolderTable* findByObjectId(std::uint32_t objectId) const;
    [[nodiscard]] const std::vector<FolderTable>& entries() const { return m_entries; }
    void clear();

private:
    std::vector<FolderTable> m_entries;
    std::unordered_set<std::string> m_index;
    std::unordered_map<std::uint32_t, std::size_t> m_firstByObject;
};

} // namespace edb
