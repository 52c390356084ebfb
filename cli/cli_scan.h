#pragma once
// Runs the scan for the command line: a progress bar on stderr when it is a terminal, errors on
// stderr naming the file and the reason.
#include <string>

#include "store/scan.h"

namespace edbcli {

class CliScanHost : public edb::ScanHost {
public:
    explicit CliScanHost(bool showProgress);
    ~CliScanHost() override;
    void progress(std::int64_t position) override;
    void mailboxRowsReady(const std::vector<std::string>& names) override;
    void errorMessage(const std::string& text) override;
    void finishProgress();

private:
    bool m_showProgress;
    int m_shown = -1;
};

// Scans `path`; prints the failure (if any) on stderr. Exit status: 0 complete, 2 no mailbox,
// 1 otherwise.
edb::ScanResult scanStore(edb::StoreCatalog& catalog, const std::string& path, bool progress);
int exitStatusFor(const edb::ScanResult& result);

} // namespace edbcli
