#include "message/properties.h"
namespace edb {
bool ReadMessageProperties(StoreCatalog&, const ByteView&, std::uint64_t) { return false; }
bool AddAttachmentId(std::vector<FolderId>&, const FolderId&) { return false; }
bool AddContact(std::vector<ContactEntry>&, const ContactEntry&) { return false; }
} // namespace edb
