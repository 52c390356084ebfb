#pragma once
// One message's content read back from the store. Convert writes it, the message viewer shows it
// and `edb2eml show` prints it: all three go through ReadMessageContent, so they never disagree.
#include "mime/eml_writer.h"
#include "frontend/folder_paths.h"
#include "content/value_reader.h"
#include "catalog/catalog.h"

#include <optional>
#include <string>
#include <string_view>
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
    // 0, or n when this copy is written for the n-th further folder record that carries the
    // same folder id (carving can find one folder twice); keeps Message-IDs unique.
    std::uint32_t folderCopy = 0;
};

// Takes the message list's field lock itself.
[[nodiscard]] MessageSnapshot SnapshotMessage(const StoreCatalog& catalog, const MessageEntry& m);

struct MessageContent {
    EmlInput eml;                   // what the .eml file is written from
    std::vector<std::string> notes; // technical: one line per part that could not be read
    // For people: what is missing ("attachment 'x.doc' could not be read from the store"), one
    // line each; also written at the end of the shown text and to the export log.
    std::vector<std::string> missing;
    // The formatted body's compressed RTF stream as the store holds it, when it decoded cleanly:
    // formats that keep RTF compressed take it as it is.
    std::optional<std::string> rtfCompressed;
};

// The line added at the end of the shown text for one missing part.
[[nodiscard]] std::string MissingPartLine(const std::string& what);

// Reads bodies and attachments through `reader`. Throws FileError when the store cannot be read.
[[nodiscard]] MessageContent ReadMessageContent(const StoreReader& reader, const MessageSnapshot& m,
                                                const FolderPath& folder);

// The message as Convert would write it (CRLF line ends).
[[nodiscard]] std::string RenderMessageEml(const StoreCatalog& catalog, const MessageEntry& m,
                                           const FolderPath& folder);

} // namespace edb::conv
