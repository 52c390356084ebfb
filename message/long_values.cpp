#include "message/long_values.h"
namespace edb {
bool MatchLongValueChunks(StoreCatalog&, const ByteView&, std::uint64_t, int) { return false; }
bool ReadAttachments(StoreCatalog&, const ByteView&, std::uint64_t) { return false; }
bool AddAttachment(std::vector<AttachmentEntry>&, std::string_view, std::uint16_t, std::uint16_t,
                   std::uint64_t) { return false; }
} // namespace edb
