// RTF de-encapsulation (HTML or text carried in RTF) and code-page conversion.
#include "rtf/rtf_text.h"

#include "rtf/rtf_code_pages.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view rtf(reinterpret_cast<const char*>(data), size);
    (void)edb::conv::DeEncapsulateRtf(rtf);
    (void)edb::conv::RtfBytesToUtf8(rtf, size % 2 == 0 ? 1252 : 1251);
    return 0;
}
