#pragma once
// Subcommands of edb2eml; each lives in its own file.
#include <CLI/CLI.hpp>

namespace edbcli {

void addDumpCommand(CLI::App& app);
// `edb2eml STORE` (summary and tree), `tree`, `rows`, `list`.
void addViewCommands(CLI::App& app);
void addExportCommand(CLI::App& app);
// `verify DIR`: with the export engine only (registered by addExportCommand).
void addVerifyCommand(CLI::App& app);
// `find` and `show`: with the export engine only.
void addMessageCommands(CLI::App& app);

// What this build can do, for the help texts: Maildir needs file names with ':' (not on
// Windows), upload an IMAP connection (not in every build).
[[nodiscard]] bool MaildirAvailable();
[[nodiscard]] bool UploadAvailable();

// Exit status of the command that ran.
inline int g_exitStatus = 0;
// Set when the store's size changed while it was read: the end is exit status 1 whatever the
// command thought of its own work.
inline bool g_storeChanged = false;
// Set when parts of the store could not be read (a failing disk): a run that was otherwise
// fine (or found no mailbox) ends with kExitIncomplete.
inline bool g_storeIncomplete = false;
inline constexpr int kExitIncomplete = 3;

} // namespace edbcli
