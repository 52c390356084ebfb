#pragma once
// Runs the scan for the command line: a progress bar on stderr when it is a terminal, errors on
// stderr naming the file and the reason.
#include <string>

#include "cli/progress_bar.h"
#include "scan/scan.h"

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

} // namespace edbcli
