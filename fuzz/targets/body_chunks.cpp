// One page of long-value chunks of bodies: as an owner-106 page (mode 1) and as the block after
// a formatted body chunk (mode 2).
#include "fuzz/fuzz_context.h"
#include "decode/long_values.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edb::StoreCatalog catalog;
    if (!edbfuzz::openContext(catalog, data, size)) {
        return 0;
    }
    const edb::ByteView page = edbfuzz::firstPage(data, size);
    edb::MatchLongValueChunks(catalog, page, 0, 1);
    edb::MatchLongValueChunks(catalog, page, 0, 2);
    return 0;
}
