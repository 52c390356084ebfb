// The long-value stage's page matcher: is this a chunk page, where are its chunk records, and
// which key references do they carry.
#include "fuzz/fuzz_context.h"
#include "scan/chunk_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edb::StoreCatalog catalog;
    if (!edbfuzz::openContext(catalog, data, size)) {
        return 0;
    }
    const edb::ByteView page = edbfuzz::firstPage(data, size);
    if (edb::IsLongValueChunkPage(page, edbfuzz::kLongValueOwner)) {
        (void)edb::ChunkRecordPositions(page);
    }
    edb::MatchChunkPage(catalog.longValueKeys, page, 4096);
    return 0;
}
