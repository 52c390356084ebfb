// Builds without the export engine (sanitizer builds of the core) still offer the command,
// and say plainly that it is missing.
#include <iostream>

#include "cli/commands.h"

namespace edbcli {

void addExportCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand("export", "Write folders as .eml files (not in this build)");
    cmd->allow_extras();
    cmd->callback([] {
        std::cerr << "edb2eml: this build has no export engine\n";
        g_exitStatus = 1;
    });
}

} // namespace edbcli
