#pragma once
// Contacts as vCard 3.0 (RFC 2426), CRLF line ends, long lines folded.
#include "catalog/catalog.h"

#include <string>

namespace edb::conv {

[[nodiscard]] std::string WriteVCard(const ContactEntry& contact);

} // namespace edb::conv
