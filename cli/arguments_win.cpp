#include "cli/arguments.h"
#include "io/wide_names.h"

#include <windows.h>
#include <shellapi.h>

namespace edbcli {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return {argv, argv + argc};
    }
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        args.push_back(edb::Utf8FromWide(wide[i]));
    }
    ::LocalFree(wide);
    return args;
}

} // namespace edbcli
