// Builds without IMAP upload (the Windows one: no libcurl there) still take the command, and
// say plainly that it is missing rather than leaving the user with "unknown command".
#include "cli/commands.h"
#include "cli/convert_run.h"

#include <iostream>

namespace edbcli {

bool UploadAvailable() {
    return false;
}

void addUploadCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "upload", "Append folders to an IMAP server (not in " EDB_UPLOAD_ABSENT_FROM
                  " of edb2eml; export to .eml or mbox instead)");
    // Out of the help, which lists what this build does; typed anyway, it says why it is not.
    cmd->group("");
    cmd->allow_extras();
    cmd->callback([] {
        std::cerr << "edb2eml: upload is not in " EDB_UPLOAD_ABSENT_FROM
                     " of edb2eml; `edb2eml export STORE -o DIR` writes the folders as .eml "
                     "files (or --format mbox) for a mail program to import\n";
        g_exitStatus = 1;
    });
}

} // namespace edbcli
