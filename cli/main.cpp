// edb2eml: the command-line companion of the desktop program.
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    edbcli::SetUpConsole();
    CLI::App app{"edb2eml - read an Exchange information-store file (.edb) without Exchange:\n"
                 "mailboxes, folder trees, messages, and conversion to .eml files.\n"
                 "The store is opened read-only and never written.\n"
                 "\n"
                 "Start here:\n"
                 "  edb2eml STORE                      summary and every mailbox's folder tree\n"
                 "  edb2eml list STORE 'Ann\\Inbox'     one folder's messages as a table\n"
                 "  edb2eml tree STORE --json          the folder tree, for scripts\n"
                 "  edb2eml rows STORE --json          every folder's message rows, for scripts\n"
                 "  edb2eml dump STORE                 everything the scan found, as JSON\n"
                 "  edb2eml export STORE -o DIR        write the folders as .eml files\n"
                 "  edb2eml export STORE -o DIR --format mbox|maildir\n"
                 "                                     the same as mbox files or a Maildir\n"
                 "  edb2eml upload STORE --url imap://USER@HOST/FOLDER\n"
                 "                                     append the folders to an IMAP server\n"
                 "  edb2eml find STORE --from ann      messages by sender, subject or date\n"
                 "  edb2eml show STORE MESSAGE > m.eml one message as .eml (MESSAGE from find)\n"
                 "Folder paths are mailbox\\folder\\... as the tree shows them; '/' works too.\n"
                 "Exit status: 0 done, 2 no mailbox in the store, 3 parts of the store could\n"
                 "not be read (the rest was), 1 other errors.\n"
                 "More on one command: edb2eml COMMAND --help"};
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", "edb2eml " EDB_VERSION);
    edbcli::addDumpCommand(app);
    edbcli::addViewCommands(app);
    edbcli::addExportCommand(app);
    edbcli::addMessageCommands(app);
    // Parsed from UTF-8 copies, so that names in any script reach the store's Open intact.
    std::vector<std::string> args = edbcli::Utf8Arguments(argc, argv);
    std::vector<char*> argp;
    for (std::string& a : args) {
        argp.push_back(a.data());
    }
    int status = 0;
    try {
        app.parse(static_cast<int>(argp.size()), argp.data());
        status = edbcli::g_exitStatus;
    } catch (const CLI::ParseError& e) {
        status = app.exit(e);
    }
    return edbcli::FinishConsole(status);
}
