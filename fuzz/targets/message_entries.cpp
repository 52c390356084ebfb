// One page of a contents table: message entries of the context's tables.
#include "fuzz/fuzz_context.h"
#include "decode/contents_tables.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edb::StoreCatalog catalog;
    if (!edbfuzz::openContext(catalog, data, size)) {
        return 0;
    }
    edb::ReadMessageEntries(catalog, edbfuzz::firstPage(data, size));
    return 0;
}
