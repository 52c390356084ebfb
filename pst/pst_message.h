#pragma once
// One message as a node: its property context, the recipient table, the attachment table and
// each attachment's property context in its subnode tree.
#include "pst/ltp_context.h"

#include <optional>
#include <string>
#include <vector>

namespace edb::pst {

struct Recipient {
    std::string name;    // UTF-8
    std::string address; // SMTP address; may be empty
    int type = 1;        // 1 To, 2 Cc, 3 Bcc
};

struct Attachment {
    std::string name; // UTF-8 long file name
    Bytes bytes;
    std::string mimeType;
    std::string contentId; // without angle brackets
};

// Times are FILETIMEs; 0 leaves the property out.
struct Message {
    std::string messageClass = "IPM.Note";
    std::string subject;
    std::string senderName;
    std::string senderAddress;
    std::vector<Recipient> recipients;
    std::uint64_t submitTime = 0;
    std::uint64_t deliveryTime = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t modificationTime = 0;
    std::optional<std::string> body; // UTF-8
    std::optional<std::string> html; // UTF-8
    std::optional<Bytes> rtfCompressed;
    std::string internetMessageId; // with angle brackets
    std::string transportHeaders;
    bool read = true;
    std::vector<Attachment> attachments;
    PropertyBag extra; // further properties, such as a contact's fields
};

enum class FolderKind { Mail, Calendar, Contacts, Tasks, Notes, Journal };

// A subject's prefix as MAPI splits it ("RE: " of "RE: lunch"): one to three characters that
// are not digits or spaces, a colon and a space; empty when there is none.
[[nodiscard]] std::string SubjectPrefix(const std::string& subject);

struct WrittenMessage {
    NodeRef ref;
    TableRow contentsRow; // the folder's contents table row for it
};

[[nodiscard]] WrittenMessage WriteMessage(NdbWriter& ndb, const Message& m, std::uint32_t nid);

// The columns of a folder's contents table.
[[nodiscard]] std::vector<std::uint32_t> ContentsColumns();
// The columns of a message's recipient table and attachment table.
[[nodiscard]] std::vector<std::uint32_t> RecipientColumns();
[[nodiscard]] std::vector<std::uint32_t> AttachmentColumns();

// An 8.3 name for a long file name ("REPORT~1.PDF"), as older readers show attachments.
[[nodiscard]] std::string ShortFileName(const std::string& longName);

} // namespace edb::pst
