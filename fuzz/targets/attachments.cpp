// One owner-61 page: attachment records of the context's attachment ids.
#include "fuzz/fuzz_context.h"
#include "decode/long_values.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edb::StoreCatalog catalog;
    if (!edbfuzz::openContext(catalog, data, size)) {
        return 0;
    }
    edb::ReadAttachments(catalog, edbfuzz::firstPage(data, size), 0);
    return 0;
}
