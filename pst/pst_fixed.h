#pragma once
// The nodes every PST holds whatever its mail: the folder and search folder templates, the
// table templates and the search bookkeeping (queues and lists), written empty as a new file
// has them. Outlook looks for them when it opens a file and may refuse one that lacks them.
#include "pst/ndb_writer.h"

#include <cstdint>
#include <vector>

namespace edb::pst {

// The columns of a folder's hierarchy table and of its associated contents table.
[[nodiscard]] std::vector<std::uint32_t> HierarchyColumns();
[[nodiscard]] std::vector<std::uint32_t> AssocColumns();

// Node ids of the fixed nodes, as the format numbers them.
inline constexpr std::uint32_t kNormalFolderTemplateNid = 0xA1;
inline constexpr std::uint32_t kSearchFolderTemplateNid = 0xC1;
inline constexpr std::uint32_t kHierarchyTemplateNid = 0x60D;
inline constexpr std::uint32_t kContentsTemplateNid = 0x60E;
inline constexpr std::uint32_t kAssocTemplateNid = 0x60F;
inline constexpr std::uint32_t kSearchContentsTemplateNid = 0x610;
inline constexpr std::uint32_t kAttachmentTemplateNid = 0x671;
inline constexpr std::uint32_t kRecipientTemplateNid = 0x692;
inline constexpr std::uint32_t kSearchTableTemplateNid = 0x6B6;

// Writes the templates and the empty search queues and lists as top-level nodes.
void WriteFixedNodes(NdbWriter& ndb);

} // namespace edb::pst
