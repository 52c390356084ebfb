#pragma once
// Runs the scan for the command line: a progress bar on stderr when it is a terminal, errors on
// stderr naming the file and the reason.
#include "cli/progress_bar.h"
#include "scan/scan.h"

#include <memory>
#include <string>
#include <vector>

namespace edbcli {

class CliScanHost : public edb::ScanHost {
public:
    explicit CliScanHost(bool showProgress);
    void progress(std::int64_t position) override;
    void mailboxRowsReady(const std::vector<std::string>& names) override;
    void finishProgress() { m_bar.finish(); }

private:
    ProgressBar m_bar;
};

// Scans `path`; prints the failure (if any) on stderr. Exit status: 0 complete, 2 no mailbox,
// 1 otherwise.
edb::ScanResult scanStore(edb::StoreCatalog& catalog, const std::string& path, bool progress);
int exitStatusFor(const edb::ScanResult& result);

// The process ends right after a command: freeing hundreds of thousands of entries one by one
// only delays the exit, so what a command scanned is kept (reachable, for leak checkers) until
// the system takes the memory back.
template <class T> void keepUntilExit(std::unique_ptr<T> scanned) {
    static auto* const kept = new std::vector<std::unique_ptr<T>>();
    kept->push_back(std::move(scanned));
}

} // namespace edbcli
