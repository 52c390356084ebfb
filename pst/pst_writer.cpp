#include "pst/pst_writer.h"

#include "pst/mapi_tags.h"
#include "pst/pst_fixed.h"
#include "pst/pst_message.h"

#include <array>
#include <iterator>
#include <map>
#include <stdexcept>
#include <unordered_map>

namespace edb::pst {
namespace {

constexpr std::uint32_t kStoreNid = 0x21;
constexpr std::uint32_t kNameToIdNid = 0x61;
constexpr std::uint32_t kRootNid = 0x122;
// The folders a new file has: the top of the personal folders and the search root under the
// root, the spam search folder beside them, and Deleted Items under the top. Their indexes
// come first, so folders made here start after them.
constexpr std::uint32_t kTopIndex = 0x401;
constexpr std::uint32_t kSearchRootIndex = 0x402;
constexpr std::uint32_t kSpamIndex = 0x403;
constexpr std::uint32_t kDeletedIndex = 0x404;

const char* ContainerClass(FolderKind kind) {
    switch (kind) {
    case FolderKind::Calendar:
        return "IPF.Appointment";
    case FolderKind::Contacts:
        return "IPF.Contact";
    case FolderKind::Tasks:
        return "IPF.Task";
    case FolderKind::Notes:
        return "IPF.StickyNote";
    case FolderKind::Journal:
        return "IPF.Journal";
    case FolderKind::Mail:
        break;
    }
    return "IPF.Note";
}

// A stable identity for the store from its name: the same mailbox gives the same file.
Bytes StoreUid(const std::string& name) {
    Bytes uid(16, 0);
    std::uint64_t h1 = 0xcbf29ce484222325ULL;
    std::uint64_t h2 = 0x84222325cbf29ce4ULL;
    for (const char c : name) {
        h1 = (h1 ^ static_cast<std::uint8_t>(c)) * 0x100000001b3ULL;
        h2 = (h2 ^ static_cast<std::uint8_t>(c)) * 0x100000001b3ULL + 0x9E37;
    }
    PutU64(uid, 0, h1);
    PutU64(uid, 8, h2);
    return uid;
}

// The name-to-id map: the named properties this writer uses (a contact's e-mail address and
// the like, all in PSETID_Address) at ids 0x8000 onwards, in the order of kNamedIds.
PropertyBag NameToIdMap() {
    constexpr std::uint32_t kNamedIds[] = {0x8083, 0x8080, 0x8082, 0x8084, 0x8005, 0x801B};
    constexpr std::uint32_t kBuckets = 251;
    const Bytes guid{0x04, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    constexpr std::uint32_t kGuidIndex = 3; // the first GUID of the stream
    PropertyBag p;
    p.setLong(tag::kNameidBucketCount, kBuckets);
    p.set(tag::kNameidStreamGuid, guid);
    Bytes entries;
    std::map<std::uint32_t, Bytes> buckets;
    for (std::uint32_t i = 0; i < std::size(kNamedIds); ++i) {
        Bytes e;
        AppendU32(e, kNamedIds[i]);
        AppendU32(e, (i << 16) | (kGuidIndex << 1)); // numeric name, GUID, index
        entries.insert(entries.end(), e.begin(), e.end());
        const std::uint32_t bucket = (kNamedIds[i] ^ (kGuidIndex << 1)) % kBuckets;
        buckets[bucket].insert(buckets[bucket].end(), e.begin(), e.end());
    }
    p.set(tag::kNameidStreamEntry, entries);
    p.set(tag::kNameidStreamString, Bytes(4, 0));
    for (const auto& [bucket, content] : buckets) {
        p.set(((0x1000 + bucket) << 16) | kPtBinary, content);
    }
    return p;
}

std::uint32_t TableNid(std::uint32_t folderNid, std::uint32_t type) {
    return (folderNid & ~0x1FU) | type;
}

} // namespace

struct PstWriter::Folder {
    std::uint32_t nid = 0;
    std::uint32_t parent = 0;
    std::string name;
    std::string containerClass;
    std::vector<std::uint32_t> children;
    std::uint32_t count = 0;
    std::uint32_t unread = 0;
    std::vector<TableRow> rows; // contents rows until the folder is closed
    bool closed = false;
    bool search = false; // a search folder: its contents table is a search contents table
};

std::uint32_t PstWriter::topFolder() { return MakeNid(kNidNormalFolder, kTopIndex); }

PstWriter::PstWriter(const std::filesystem::path& file, const std::string& displayName)
    : m_ndb(file, true), m_name(displayName), m_storeUid(StoreUid(displayName)) {
    auto add = [&](std::uint32_t nid, std::uint32_t parent, const std::string& name,
                   const std::string& cls) {
        auto f = std::make_unique<Folder>();
        f->nid = nid;
        f->parent = parent;
        f->name = name;
        f->containerClass = cls;
        m_folders.push_back(std::move(f));
    };
    add(kRootNid, kRootNid, "", "");
    add(topFolder(), kRootNid, "Top of Personal Folders", "");
    add(MakeNid(kNidNormalFolder, kSearchRootIndex), kRootNid, "Search Root", "");
    add(MakeNid(kNidSearchFolder, kSpamIndex), kRootNid, "SPAM Search Folder 2", "");
    m_folders.back()->search = true;
    m_folders[0]->children = {topFolder(), MakeNid(kNidNormalFolder, kSearchRootIndex),
                              MakeNid(kNidSearchFolder, kSpamIndex)};
}

PstWriter::~PstWriter() = default;

PstWriter::Folder& PstWriter::folder(std::uint32_t nid) {
    for (auto& f : m_folders) {
        if (f->nid == nid) {
            return *f;
        }
    }
    throw std::invalid_argument("no such folder in the PST");
}

std::uint32_t PstWriter::addFolder(std::uint32_t parent, const std::string& name,
                                   FolderKind kind) {
    Folder& p = folder(parent);
    auto f = std::make_unique<Folder>();
    f->nid = MakeNid(kNidNormalFolder, m_nextFolder++);
    f->parent = parent;
    f->name = name;
    f->containerClass = ContainerClass(kind);
    p.children.push_back(f->nid);
    m_folders.push_back(std::move(f));
    return m_folders.back()->nid;
}

void PstWriter::setDeletedItems(std::uint32_t nid) { m_deletedItems = nid; }

void PstWriter::addMessage(std::uint32_t folderNid, const Message& message) {
    Folder& f = folder(folderNid);
    if (f.closed) {
        throw std::logic_error("message added to a closed PST folder");
    }
    const std::uint32_t nid = MakeNid(kNidNormalMessage, m_nextMessage++);
    WrittenMessage w = WriteMessage(m_ndb, message, nid);
    m_ndb.addNode(nid, w.ref, folderNid);
    f.rows.push_back(std::move(w.contentsRow));
    ++f.count;
    f.unread += message.read ? 0 : 1;
    ++m_messages;
}

void PstWriter::closeFolder(std::uint32_t nid) {
    Folder& f = folder(nid);
    if (f.closed) {
        return;
    }
    m_ndb.addNode(TableNid(f.nid, f.search ? kNidSearchContentsTable : kNidContentsTable),
                  WriteTableContext(m_ndb, ContentsColumns(), f.rows), 0);
    f.rows.clear();
    f.rows.shrink_to_fit();
    f.closed = true;
}

void PstWriter::writeFolder(const Folder& f) {
    PropertyBag p;
    p.setString(tag::kDisplayName, f.name);
    p.setLong(tag::kContentCount, f.count);
    p.setLong(tag::kContentUnreadCount, f.unread);
    p.setBool(tag::kSubfolders, !f.children.empty());
    if (!f.containerClass.empty()) {
        p.setString(tag::kContainerClass, f.containerClass);
    }
    m_ndb.addNode(f.nid, WritePropertyContext(m_ndb, p), f.parent);
    std::vector<TableRow> rows;
    for (const std::uint32_t c : f.children) {
        const Folder& child = folder(c);
        TableRow row;
        row.id = c;
        row.values.setString(tag::kDisplayName, child.name);
        row.values.setLong(tag::kContentCount, child.count);
        row.values.setLong(tag::kContentUnreadCount, child.unread);
        row.values.setBool(tag::kSubfolders, !child.children.empty());
        if (!child.containerClass.empty()) {
            row.values.setString(tag::kContainerClass, child.containerClass);
        }
        rows.push_back(std::move(row));
    }
    m_ndb.addNode(TableNid(f.nid, kNidHierarchyTable),
                  WriteTableContext(m_ndb, HierarchyColumns(), rows), 0);
    m_ndb.addNode(TableNid(f.nid, kNidAssocContentsTable),
                  WriteTableContext(m_ndb, AssocColumns(), {}), 0);
}

Bytes PstWriter::entryId(std::uint32_t nid) const {
    Bytes id(24, 0); // flags, the store's uid, the node id
    for (std::size_t i = 0; i < 16 && i < m_storeUid.size(); ++i) {
        id[4 + i] = m_storeUid[i];
    }
    PutU32(id, 20, nid);
    return id;
}

void PstWriter::writeStore() {
    PropertyBag s;
    s.set(tag::kRecordKey, m_storeUid);
    s.setString(tag::kDisplayName, m_name);
    s.set(tag::kIpmSubtreeEntryId, entryId(topFolder()));
    s.set(tag::kIpmWastebasketEntryId, entryId(m_deletedItems));
    s.set(tag::kFinderEntryId, entryId(MakeNid(kNidNormalFolder, kSearchRootIndex)));
    s.setLong(tag::kValidFolderMask, 0x89); // subtree, wastebasket and finder are valid
    s.setLong(tag::kStoreSupportMask, 0x00040000 | 0x0001 | 0x0002 | 0x0008 | 0x0010 | 0x0020);
    s.setLong(tag::kPstPassword, 0);
    m_ndb.addNode(kStoreNid, WritePropertyContext(m_ndb, s), 0);

    m_ndb.addNode(kNameToIdNid, WritePropertyContext(m_ndb, NameToIdMap()), 0);
    WriteFixedNodes(m_ndb);
}

void PstWriter::finish() {
    if (m_deletedItems == 0) {
        auto f = std::make_unique<Folder>();
        f->nid = MakeNid(kNidNormalFolder, kDeletedIndex);
        f->parent = topFolder();
        f->name = "Deleted Items";
        f->containerClass = "IPF.Note";
        folder(topFolder()).children.push_back(f->nid);
        m_folders.push_back(std::move(f));
        m_deletedItems = m_folders.back()->nid;
    }
    for (const auto& f : m_folders) {
        closeFolder(f->nid);
        writeFolder(*f);
    }
    writeStore();
    std::array<std::uint32_t, 32> next{};
    next.fill(0x400);
    for (const std::uint32_t t : {kNidNormalFolder, kNidSearchFolder, kNidHierarchyTable,
                                  kNidContentsTable, kNidAssocContentsTable,
                                  kNidSearchContentsTable}) {
        next[t] = m_nextFolder;
    }
    next[kNidNormalMessage] = m_nextMessage;
    m_ndb.finish(next);
}

} // namespace edb::pst
