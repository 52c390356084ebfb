#pragma once
// Runs the scan for the command line: a progress bar on stderr when it is a terminal, errors on
// stderr naming the file and the reason.
#include "cli/progress_bar.h"
#include "scan/scan.h"
#include "views/progress.h"

#include <memory>
#include <string>
#include <vector>

namespace edbcli {

// One bar from 0 to 100 % over the whole scan: each stage's own 0..100 fills its share of it.
class CliScanHost : public edb::ScanHost {
public:
    explicit CliScanHost(bool showProgress);
    void progress(std::int64_t position) override;
    void mailboxRowsReady(const std::vector<std::string>& names) override;
    void stageFinished(const char* stage) override;
    void finishProgress() { m_bar.finish(); }
    // The whole scan's percentage for a position inside the current stage.
    [[nodiscard]] int overall(std::int64_t position) const;

private:
    ProgressBar m_bar;
    edb::views::ScanProgress m_progress;
};

// Ctrl+C (or a termination request) stopped the scan: thrown by scanStore once it has said so,
// so no command goes on with half a store; ParseAndRun ends with `status` (130, 143).
struct ScanInterrupted {
    int status = 130;
};

// Scans `path`; prints the failure (if any) and the unreadable ranges on stderr. Exit status:
// 0 complete, 2 no mailbox, 1 otherwise (3 at the end when ranges were unreadable: commands.h).
// Ctrl+C stops the scan at its next page: ScanInterrupted.
edb::ScanResult scanStore(edb::StoreCatalog& catalog, const std::string& path, bool progress);
int exitStatusFor(const edb::ScanResult& result);

// The store's unreadable ranges, if any, said on stderr; the exit status becomes
// kExitIncomplete unless a worse one is due.
void noteUnreadable(const std::string& path, const std::vector<edb::UnreadableRange>& ranges);

// After work that read the store again (Convert, show): a store whose size is no longer the
// size the scan saw is said on stderr ("STORE: the file changed while it was read") and the
// command ends with status 1. True when it changed.
bool reportIfStoreChanged(const edb::StoreCatalog& catalog);

// The process ends right after a command: freeing hundreds of thousands of entries one by one
// only delays the exit, so what a command scanned is kept (reachable, for leak checkers) until
// the system takes the memory back.
template <class T> void keepUntilExit(std::unique_ptr<T> scanned) {
    static auto* const kept = new std::vector<std::unique_ptr<T>>();
    kept->push_back(std::move(scanned));
}

} // namespace edbcli
