#pragma once
// What every edb2eml parser shares, whatever commands it carries: one reading of the command
// line on every system, and one exit status for a mistake on it.
#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace edbcli {

// An argument starting with '/' is a path (a store, an output folder), never an option, on
// Windows as elsewhere. Called before any command is added: the commands take it over.
void ConfigureParser(CLI::App& app);

// Parses `args` (args[0] the program) and runs the command. A mistake on the command line is
// said as the parser words it and ends with exit status 1; --help ends with 0. Otherwise the
// command's own status.
[[nodiscard]] int ParseAndRun(CLI::App& app, std::vector<std::string> args);

// The help's first lines, naming only what this build does (Maildir and upload are missing
// from some builds).
[[nodiscard]] std::string ProgramDescription(bool maildir, bool upload);

} // namespace edbcli
