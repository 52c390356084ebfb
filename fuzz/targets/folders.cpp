// Folder discovery, sweep after sweep, over the input's pages taken as owner-8 pages under the
// context's mailbox.
#include "fuzz/fuzz_context.h"
#include "scan/discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edb::StoreCatalog catalog;
    if (!edbfuzz::openContext(catalog, data, size)) {
        return 0;
    }
    for (std::uint64_t o = 0; o < size; o += edb::kPageSize) {
        catalog.pageList.AddPage(8, o);
        ++catalog.recordedPageCount;
    }
    edbfuzz::QuietHost host;
    edb::ScanContext ctx{catalog, host, nullptr};
    edb::RunFolderDiscovery(ctx);
    return 0;
}
