// Mailbox records of one owner-21 page, then the mailbox list rows.
#include "fuzz/fuzz_context.h"
#include "scan/discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edb::StoreCatalog catalog;
    edb::ReadMailboxRecords(catalog, edbfuzz::firstPage(data, size));
    (void)edb::ListMailboxes(catalog);
    return 0;
}
