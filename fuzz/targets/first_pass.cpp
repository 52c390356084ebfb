// The page scan's judgement of one page (owner number, N1013 code, owner-2 pattern).
#include "fuzz/fuzz_context.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edb::StoreCatalog catalog;
    std::int32_t recorded = 0;
    edb::JudgeFirstPassPage(catalog, edbfuzz::firstPage(data, size), 0, recorded);
    return 0;
}
