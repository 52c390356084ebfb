#pragma once
// A Unicode PST file as Outlook opens it: the message store, the name-to-id map, the fixed
// templates and search nodes, the root folder with the top of the personal folders, the search
// root and the spam search folder, Deleted Items, the folders given, and
// their messages with recipients and attachments. Messages go to the file as they are added;
// what stays in memory is the B-tree entries, the folder list and the open folders' rows.
#include "pst/pst_message.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace edb::pst {

class PstWriter {
public:
    // The file is created (or truncated) now; `displayName` names the store in Outlook.
    PstWriter(const std::filesystem::path& file, const std::string& displayName);
    ~PstWriter();
    PstWriter(const PstWriter&) = delete;
    PstWriter& operator=(const PstWriter&) = delete;

    // The node id of the top of the personal folders, the parent of top-level folders.
    [[nodiscard]] static std::uint32_t topFolder();
    // A folder under `parent` (topFolder() or one this writer made).
    [[nodiscard]] std::uint32_t addFolder(std::uint32_t parent, const std::string& name,
                                          FolderKind kind);
    // The folder that Outlook's Deleted Items is; one is made when none is named.
    void setDeletedItems(std::uint32_t folder);
    void addMessage(std::uint32_t folder, const Message& message);
    // The folder takes no more messages; its contents table is written now.
    void closeFolder(std::uint32_t folder);
    // Writes the folders, the store and the indexes; the file is complete when it returns.
    void finish();
    // Sets the writer aside: its file is closed until the next call that writes.
    void park() { m_ndb.park(); }

    // Messages written so far and the bytes they took.
    [[nodiscard]] std::size_t messageCount() const { return m_messages; }

private:
    struct Folder;
    Folder& folder(std::uint32_t nid);
    void writeFolder(const Folder& f);
    void writeStore();
    [[nodiscard]] Bytes entryId(std::uint32_t nid) const;

    NdbWriter m_ndb;
    std::string m_name;
    Bytes m_storeUid;
    std::vector<std::unique_ptr<Folder>> m_folders;
    std::uint32_t m_nextFolder = 0x405;
    std::uint32_t m_nextMessage = 0x10000;
    std::uint32_t m_deletedItems = 0;
    std::size_t m_messages = 0;
};

} // namespace edb::pst
