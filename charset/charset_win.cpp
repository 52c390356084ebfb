// Code page conversion through the system's tables: MultiByteToWideChar into UTF-16, then
// WideCharToMultiByte into UTF-8.
#include "charset/charset.h"

#include <climits>
#include <windows.h>

namespace edb::conv {
namespace {

// Code pages that refuse MB_ERR_INVALID_CHARS (the ISO-2022 family, GB18030, UTF-7, symbol).
// Without the flag an invalid byte would quietly become '?', so these go to the caller's own
// table instead.
bool takesStrictFlag(int codePage) {
    return !(codePage == 42 || (codePage >= 50220 && codePage <= 50229) || codePage == 52936 ||
             codePage == 54936 || (codePage >= 57002 && codePage <= 57011) || codePage == 65000);
}

} // namespace

std::optional<std::string> SystemCodePageToUtf8(std::string_view bytes, int codePage) {
    if (bytes.empty()) {
        return std::string();
    }
    if (bytes.size() > INT_MAX / 2 || codePage <= 0 || !takesStrictFlag(codePage) ||
        IsValidCodePage(static_cast<UINT>(codePage)) == 0) {
        return std::nullopt;
    }
    const auto page = static_cast<UINT>(codePage);
    const int inLen = static_cast<int>(bytes.size());
    const int wideLen =
        MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), inLen, nullptr, 0);
    if (wideLen <= 0) {
        return std::nullopt; // an invalid or cut-off sequence
    }
    std::wstring wide(static_cast<std::size_t>(wideLen), L'\0');
    if (MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), inLen, wide.data(),
                            wideLen) != wideLen) {
        return std::nullopt;
    }
    const int outLen =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLen, nullptr, 0, nullptr, nullptr);
    if (outLen <= 0) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(outLen), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLen, out.data(), outLen, nullptr,
                            nullptr) != outLen) {
        return std::nullopt;
    }
    return out;
}

} // namespace edb::conv
