#pragma once
// Mailbox and folder discovery over owner-21 and owner-8 pages.
#include "io/bytes.h"
#include "scan/scan_context.h"

#include <string>
#include <vector>

namespace edb {

void RunMailboxPass(ScanContext& ctx);
// Fills the mailbox list from the folder list; returns the row texts in order.
std::vector<std::string> ListMailboxes(StoreCatalog& catalog);
void RunFolderDiscovery(ScanContext& ctx);

// Page-level decoders, exposed for tests and fuzzing.
void ReadMailboxRecords(StoreCatalog& catalog, const ByteView& page);

} // namespace edb
