// An owner-2 page: catalog rows matched to the context's folders, their table pages collected
// through the rest of the input (root, child list, page chains).
#include "fuzz/fuzz_context.h"
#include "decode/contents_tables.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edb::StoreCatalog catalog;
    if (!edbfuzz::openContext(catalog, data, size)) {
        return 0;
    }
    edb::FindFolderTables(catalog, edbfuzz::firstPage(data, size));
    return 0;
}
