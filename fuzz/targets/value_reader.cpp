// Reading bodies and attachments back from locators. The first 16 bytes of the input are the
// locator (size, position, reference, value range, code page); the rest is the store file, whose
// chunk records are found as the long-value stage finds them.
#include "content/value_reader.h"

#include "fuzz/fuzz_context.h"
#include "scan/chunk_pages.h"

namespace {
std::uint64_t le(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kHeader = 16;
    if (size < kHeader) {
        return 0;
    }
    const std::uint8_t* body = data + kHeader;
    const std::size_t bodySize = size - kHeader;
    edbfuzz::MemoryStore& store = edbfuzz::memoryStore();
    store.assign(body, bodySize);
    edb::CFile64 file;
    if (!file.Open(store.path())) {
        return 0;
    }
    edb::conv::ValueLocation loc;
    loc.size = static_cast<std::uint16_t>(le(data, 2));
    loc.position = le(data + 2, 4);
    const auto reference = static_cast<std::uint16_t>(le(data + 6, 2));
    if (reference != 0xFFFF) {
        loc.reference = reference;
    }
    loc.valueStart = le(data + 8, 4);
    loc.valueEnd = loc.valueStart + le(data + 12, 2);
    loc.codePage = data[14] % 3 == 0 ? 1252 : (data[14] % 3 == 1 ? 1251 : 0);
    for (std::uint64_t o = 0; o < bodySize && loc.chunks.size() < 64; o += edb::kPageSize) {
        const std::size_t n = std::min<std::size_t>(edb::kPageSize, bodySize - o);
        for (const std::int64_t at : edb::ChunkRecordPositions(edb::ByteView(body + o, n))) {
            loc.chunks.push_back(o + static_cast<std::uint64_t>(at));
        }
    }
    const edb::conv::StoreReader reader(file, bodySize);
    switch (data[15] % 3) {
    case 0:
        (void)edb::conv::ReadPrimaryBody(reader, loc);
        break;
    case 1:
        (void)edb::conv::ReadFormattedBody(reader, loc);
        break;
    default:
        (void)edb::conv::ReadAttachmentData(reader, loc);
        break;
    }
    return 0;
}
