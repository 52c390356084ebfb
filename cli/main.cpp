// edb2eml: the command-line companion of the desktop program.
#include "cli/arguments.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console.h"

int main(int argc, char** argv) {
    edbcli::SetUpConsole();
    CLI::App app{edbcli::ProgramDescription(edbcli::MaildirAvailable(), edbcli::UploadAvailable())};
    edbcli::ConfigureParser(app);
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", "edb2eml " EDB_VERSION);
    edbcli::addDumpCommand(app);
    edbcli::addViewCommands(app);
    edbcli::addExportCommand(app);
    edbcli::addMessageCommands(app);
    // Parsed from UTF-8 copies, so that names in any script reach the store's Open intact.
    const int status = edbcli::ParseAndRun(app, edbcli::Utf8Arguments(argc, argv));
    return edbcli::FinishConsole(status);
}
