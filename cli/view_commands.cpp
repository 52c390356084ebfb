#include "cli/commands.h"

namespace edbcli {
void addViewCommands(CLI::App&) {}
} // namespace edbcli
