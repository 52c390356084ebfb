// Code page conversion through iconv (glibc's names: CP932, CP1361, MACINTOSH, ...).
#include "charset/charset.h"

#include <cerrno>
#include <iconv.h>

namespace edb::conv {
namespace {

std::string iconvName(int codePage) {
    return codePage == 10000 ? "MACINTOSH" : "CP" + std::to_string(codePage);
}

} // namespace

std::optional<std::string> SystemCodePageToUtf8(std::string_view bytes, int codePage) {
    // A descriptor per call: iconv's state is not shared between threads.
    iconv_t cd = iconv_open("UTF-8", iconvName(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string in(bytes);
    std::string out(bytes.size() * 4 + 16, '\0');
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    bool ok = true;
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) {
            continue;
        }
        if (errno != E2BIG) {
            ok = false; // an invalid or cut-off sequence
            break;
        }
        const std::size_t used = out.size() - outLeft;
        out.resize(out.size() * 2);
        outPtr = out.data() + used;
        outLeft = out.size() - used;
    }
    // Flush any shift state (none for these code pages, but cheap to ask).
    ok = ok && iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok) {
        return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace edb::conv
