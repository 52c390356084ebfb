#include "cli/command_line.h"

#include "cli/cli_scan.h"
#include "cli/commands.h"

namespace edbcli {

void ConfigureParser(CLI::App& app) {
    app.allow_windows_style_options(false);
}

int ParseAndRun(CLI::App& app, std::vector<std::string> args) {
    std::vector<char*> argp;
    for (std::string& a : args) {
        argp.push_back(a.data());
    }
    try {
        app.parse(static_cast<int>(argp.size()), argp.data());
        return g_exitStatus;
    } catch (const ScanInterrupted& stopped) {
        return stopped.status;
    } catch (const CLI::ParseError& e) {
        // The parser prints the mistake (or the help); its own codes (105 to 109 and more)
        // are not what the README promises for a usage error.
        return app.exit(e) == 0 ? 0 : 1;
    }
}

std::string ProgramDescription(bool maildir, bool upload) {
    std::string text =
        "edb2eml - read an Exchange information-store file (.edb) without Exchange:\n"
        "mailboxes, folder trees, messages, and conversion to .eml files.\n"
        "The store is opened read-only and never written.\n"
        "\n"
        "Start here:\n"
        "  edb2eml STORE                      summary and every mailbox's folder tree\n"
        "  edb2eml list STORE 'Ann\\Inbox'     one folder's messages as a table\n"
        "  edb2eml tree STORE --json          the folder tree, for scripts\n"
        "  edb2eml rows STORE --json          every folder's message rows, for scripts\n"
        "  edb2eml dump STORE                 everything the scan found, as JSON\n"
        "  edb2eml export STORE -o DIR        write the folders as .eml files\n";
    if (maildir) {
        text += "  edb2eml export STORE -o DIR --format mbox|maildir|pst\n"
                "                                     the same as mbox files, a Maildir or PST\n";
    } else {
        text += "  edb2eml export STORE -o DIR --format mbox|pst\n"
                "                                     the same as mbox files or PST files\n";
    }
    if (upload) {
        text += "  edb2eml upload STORE --url imap://USER@HOST/FOLDER\n"
                "                                     append the folders to an IMAP server\n";
    }
    text += "  edb2eml find STORE --from ann      messages by sender, subject or date\n"
            "  edb2eml show STORE MESSAGE > m.eml one message as .eml (MESSAGE from find)\n"
            "  edb2eml verify DIR                 check an export against its manifest.json\n"
            "Folder paths are mailbox\\folder\\... as the tree shows them; '/' works too.\n"
            "Exit status: 0 done, 2 no mailbox in the store, 3 parts of the store could\n"
            "not be read (the rest was), 1 other errors.\n"
            "More on one command: edb2eml COMMAND --help";
    return text;
}

} // namespace edbcli
