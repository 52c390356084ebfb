#pragma once
// Message properties records (owner-19 pages): sender fallback, body locators, attachment ids
// and contact fields.
#include <cstdint>

#include "store/bytes.h"
#include "store/catalog.h"

namespace edb {

bool ReadMessageProperties(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset);

bool AddAttachmentId(std::vector<FolderId>& ids, const FolderId& id);
bool AddContact(std::vector<ContactEntry>& contacts, const ContactEntry& contact);

} // namespace edb
