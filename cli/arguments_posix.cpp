#include "cli/arguments.h"

namespace edbcli {

// POSIX names are bytes already; the program treats them as UTF-8 throughout.
std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return {argv, argv + argc};
}

} // namespace edbcli
