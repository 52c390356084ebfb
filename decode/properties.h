#pragma once
// Message properties records (owner-19 pages): sender fallback, body locators, attachment ids
// and contact fields.
#include "io/bytes.h"
#include "catalog/catalog.h"

#include <cstdint>
#include <vector>

namespace edb {

bool ReadMessageProperties(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset);

// ReadMessageProperties in two halves. The first reads only the page (another thread may run it
// while the catalog changes): the record start of each distinct message id, in page order; false
// when the page has no anchor at all. The second applies them to the messages.
struct PropertyRecordStart {
    FolderId id{};
    std::int64_t anchor = 0;
};
bool FindPropertyRecords(const ByteView& page, std::vector<PropertyRecordStart>& out);
bool ApplyPropertyRecords(StoreCatalog& catalog, const ByteView& page, std::uint64_t pageOffset,
                          const std::vector<PropertyRecordStart>& starts);

bool AddAttachmentId(std::vector<FolderId>& ids, const FolderId& id);
bool AddContact(std::vector<ContactEntry>& contacts, const ContactEntry& contact);

} // namespace edb
