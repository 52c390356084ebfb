// The message list and the folder-table list: appends with duplicate tests, the by-id groups,
// and the side indexes the chunk and attachment stages look messages up by.
#include "catalog/message_entry.h"

#include <string>

namespace edb {

std::array<std::uint8_t, 6> MessageEntry::dateBytes() const {
    std::array<std::uint8_t, 6> out{};
    for (std::size_t i = 0; i < 6; ++i) {
        out[i] = static_cast<std::uint8_t>(filetime >> (8 * (i + 2)));
    }
    return out;
}

bool MessageList::AddMessage(const FolderId& folderId, const FolderId& messageId,
                             std::string subject, std::string sender, std::uint64_t filetime,
                             char kind) {
    m_scanThread.assertHeld();
    std::uint64_t k = std::hash<std::string_view>{}(subject);
    k = (k ^ IdKey(folderId)) * 0x9E3779B97F4A7C15ULL;
    k = (k ^ IdKey(messageId)) * 0xC2B2AE3D27D4EB4FULL;
    MessageEntry* same = m_dupIndex.find(k, [&](const MessageEntry* e) {
        return e->folderId == folderId && e->messageId == messageId && e->subject == subject;
    });
    if (same != nullptr) {
        updateFields([&] { same->filetime = filetime; });
        return false;
    }
    // Complete before it is linked: a listing may walk the list meanwhile.
    MessageEntry entry;
    entry.folderId = folderId;
    entry.messageId = messageId;
    entry.subject = std::move(subject);
    entry.sender = std::move(sender);
    entry.filetime = filetime;
    entry.kind = kind;
    MessageEntry& added = m_list.emplace_back(std::move(entry));
    m_dupIndex.insert(k, &added);
    const std::uint64_t id = IdKey(messageId);
    // One group per id: the key alone decides.
    MessageIdGroup* group = m_byId.find(id, [](const MessageIdGroup*) { return true; });
    if (group == nullptr) {
        group = &m_idGroups.emplace_back();
        m_byId.insert(id, group);
        group->m_first = &added;
    } else {
        group->m_last->nextSameId = &added;
    }
    group->m_last = &added;
    ++group->m_size;
    return true;
}

const MessageIdGroup* MessageList::byMessageId(const FolderId& id) const {
    m_scanThread.assertHeld();
    return m_byId.find(IdKey(id), [](const MessageIdGroup*) { return true; });
}

bool FolderTableList::AddFolderTable(const FolderId& folderId, std::uint32_t tableObjectId,
                                     char kind, OffsetList&& pages) {
    std::string k(reinterpret_cast<const char*>(folderId.data()), folderId.size());
    k.append(reinterpret_cast<const char*>(&tableObjectId), sizeof tableObjectId);
    if (!m_index.insert(std::move(k)).second) {
        pages.clear();
        return false;
    }
    m_firstByObject.emplace(tableObjectId, m_entries.size());
    m_entries.push_back(FolderTable{folderId, tableObjectId, kind, std::move(pages)});
    return true;
}

const FolderTable* FolderTableList::findByObjectId(std::uint32_t objectId) const {
    auto it = m_firstByObject.find(objectId);
    return it == m_firstByObject.end() ? nullptr : &m_entries[it->second];
}

void FolderTableList::clear() {
    m_entries.clear();
    m_index.clear();
    m_firstByObject.clear();
}

void MessageList::buildLateIndexes() {
    m_byBodyReference.clear();
    m_byAttachmentId.clear();
    m_withFormattedReference.clear();
    std::size_t seq = 0;
    for (MessageEntry& m : m_list) {
        const auto& f = m.formattedBody.reference;
        const auto& pr = m.primaryBody.reference;
        if (f) {
            m_byBodyReference[*f].push_back(&m);
            m_withFormattedReference.push_back(&m);
        }
        if (pr && !(f && *f == *pr)) {
            m_byBodyReference[*pr].push_back(&m);
        }
        for (const FolderId& id : m.attachmentIds) {
            m_byAttachmentId[IdKey(id)].emplace_back(seq, &m);
        }
        ++seq;
    }
    m_lateIndexesStale = false;
    m_lateIndexedSize = m_list.size();
}

const std::vector<MessageEntry*>* MessageList::byBodyReference(std::uint16_t reference) {
    m_scanThread.assertHeld();
    if (m_lateIndexesStale || m_lateIndexedSize != m_list.size()) {
        buildLateIndexes();
    }
    auto it = m_byBodyReference.find(reference);
    return it == m_byBodyReference.end() ? nullptr : &it->second;
}

const std::vector<MessageEntry*>& MessageList::withFormattedReference() {
    m_scanThread.assertHeld();
    if (m_lateIndexesStale || m_lateIndexedSize != m_list.size()) {
        buildLateIndexes();
    }
    return m_withFormattedReference;
}

const std::vector<std::pair<std::size_t, MessageEntry*>>*
MessageList::byAttachmentId(const FolderId& id) {
    m_scanThread.assertHeld();
    if (m_lateIndexesStale || m_lateIndexedSize != m_list.size()) {
        buildLateIndexes();
    }
    auto it = m_byAttachmentId.find(IdKey(id));
    return it == m_byAttachmentId.end() ? nullptr : &it->second;
}

} // namespace edb
