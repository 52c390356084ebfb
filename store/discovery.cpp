#include "store/discovery.h"

namespace edb {

void ReadMailboxRecords(StoreCatalog&, const ByteView&) {}
void RunMailboxPass(ScanContext&) {}
std::vector<std::string> ListMailboxes(StoreCatalog&) { return {}; }
void RunFolderDiscovery(ScanContext&) {}

} // namespace edb
