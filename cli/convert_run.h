#pragma once
// What `export` and `upload` share: scanning the store, choosing folders, running Convert with
// a progress bar and Ctrl+C, and printing the failures.
#include "cli/commands.h"
#include "convert/convert.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace edbcli {

// Scans `store` and picks `folders` (all when empty). False (exit status set, reason printed)
// when the scan did not complete or a folder is unknown.
[[nodiscard]] bool scanAndChoose(edb::StoreCatalog& catalog, const std::string& store,
                                 const std::vector<std::string>& folders,
                                 std::vector<edb::conv::FolderPath>& chosen);

// Runs Convert into `destination`; the bar shows counts and the rate. Ctrl+C or SIGTERM stops
// after the current message (InterruptGuard).
[[nodiscard]] edb::conv::ConvertSummary runConvert(const edb::StoreCatalog& catalog,
                                                   const std::vector<edb::conv::FolderPath>& chosen,
                                                   edb::conv::Destination& destination,
                                                   const std::string& label,
                                                   std::vector<std::pair<std::string, std::string>>
                                                       runOptions = {});

// The exit status after Convert: 130 or 143 when a signal stopped it, 1 when a message failed,
// 0 otherwise.
[[nodiscard]] int convertExitStatus(const edb::conv::ConvertSummary& summary);

// The files found in the way and kept, on stdout.
void printKept(const edb::conv::ConvertSummary& summary);

// Every failure on stderr: folder, message, reason.
void printFailures(const edb::conv::ConvertSummary& summary);

void addUploadCommand(CLI::App& app);

} // namespace edbcli
