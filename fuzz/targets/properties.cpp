// One owner-19 page: properties records of the context's messages.
#include "decode/properties.h"

#include "fuzz/fuzz_context.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edb::StoreCatalog catalog;
    if (!edbfuzz::openContext(catalog, data, size)) {
        return 0;
    }
    edb::ReadMessageProperties(catalog, edbfuzz::firstPage(data, size), 0);
    return 0;
}
