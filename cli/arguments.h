#pragma once
// The command line as UTF-8 strings, whatever the system hands main: on Windows the narrow argv
// is in the ANSI code page and loses every name outside it, so the wide command line is read.
#include <string>
#include <vector>

namespace edbcli {

[[nodiscard]] std::vector<std::string> Utf8Arguments(int argc, char** argv);

} // namespace edbcli
