// The compressed RTF decoder on a stream starting at byte 0 of the input.
#include "rtf/compressed_rtf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const edb::ByteView stream(data, size);
    (void)edb::conv::HasRtfMagic(stream, 0);
    const edb::conv::RtfDecodeResult r = edb::conv::DecompressRtf(stream);
    (void)r.problems();
    return 0;
}
