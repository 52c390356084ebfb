// Builds without the export engine (sanitizer builds of the core) still offer the command,
// and say plainly that it is missing.
#include "cli/commands.h"

#include <iostream>

namespace edbcli {

bool MaildirAvailable() {
    return false;
}

bool UploadAvailable() {
    return false;
}

void addExportCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand("export", "Write folders as .eml files (not in this build)");
    cmd->allow_extras();
    cmd->callback([] {
        std::cerr << "edb2eml: this build has no export engine\n";
        g_exitStatus = 1;
    });
}

void addMessageCommands(CLI::App& app) {
    for (const char* name : {"find", "show"}) {
        auto* cmd = app.add_subcommand(name, "Not in this build (needs the export engine)");
        cmd->allow_extras();
        cmd->callback([] {
            std::cerr << "edb2eml: this build has no export engine\n";
            g_exitStatus = 1;
        });
    }
}

} // namespace edbcli
