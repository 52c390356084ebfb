// edb2eml: the command-line companion of the desktop program.
#include <iostream>

#include "cli/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"edb2eml - read an Exchange information-store file (.edb) without Exchange:\n"
                 "mailboxes, folder trees, messages, and conversion to .eml files.\n"
                 "The store is opened read-only and never written."};
    app.require_subcommand(0, 1);
    edbcli::addDumpCommand(app);
    edbcli::addViewCommands(app);
    edbcli::addExportCommand(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return edbcli::g_exitStatus;
}
