#pragma once
// One message's content read back from the store. Convert writes it, the message viewer shows it
// and `edb2eml show` prints it: all three go through ReadMessageContent, so they never disagree.
#include "export/eml_writer.h"
#include "export/folder_paths.h"
#include "export/value_reader.h"
#include "store/catalog.h"

#include <string>
#include <vector>

namespace edb::conv {

struct AttachmentSnapshot {
    std::string name;
    ValueLocation location;
};

// What one message needs, copied under the message list's lock so that the slow reads from the
// store run without it.
struct MessageSnapshot {
    FolderId messageId{};
    FolderId folderId{};
    std::string subject;
    std::string sender;
    char kind = 0;
    std::uint64_t filetime = 0;
    ValueLocation primary;
    ValueLocation formatted;
    std::vector<AttachmentSnapshot> attachments;
    std::vector<ContactEntry> contacts;
};

// Takes the message list's field lock itself.
[[nodiscard]] MessageSnapshot SnapshotMessage(const StoreCatalog& catalog, const MessageEntry& m);

struct MessageContent {
    EmlInput eml;                   // what the .eml file is written from
    std::vector<std::string> notes; // one line per part that could not be read
};

// Reads bodies and attachments through `reader`. Throws FileError when the store cannot be read.
[[nodiscard]] MessageContent ReadMessageContent(const StoreReader& reader, const MessageSnapshot& m,
                                                const FolderPath& folder);

// The message as Convert would write it (CRLF line ends).
[[nodiscard]] std::string RenderMessageEml(const StoreCatalog& catalog, const MessageEntry& m,
                                           const FolderPath& folder);

} // namespace edb::conv
