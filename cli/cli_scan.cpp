#include "cli/cli_scan.h"

#include <iostream>

namespace edbcli {

CliScanHost::CliScanHost(bool showProgress) : m_bar("Scanning", showProgress) {}

void CliScanHost::progress(std::int64_t position) {
    m_bar.show(edb::ClampProgress(position));
}

void CliScanHost::mailboxRowsReady(const std::vector<std::string>&) {}

void CliScanHost::errorMessage(const std::string& text) {
    finishProgress();
    std::cerr << text << '\n';
}

edb::ScanResult scanStore(edb::StoreCatalog& catalog, const std::string& path, bool progress) {
    CliScanHost host(progress);
    edb::ScanResult result = edb::RunScan(catalog, path, host);
    host.finishProgress();
    if (result.outcome == edb::ScanOutcome::OpenFailed ||
        result.outcome == edb::ScanOutcome::ReadError) {
        std::cerr << "edb2eml: " << result.message << '\n';
    }
    return result;
}

int exitStatusFor(const edb::ScanResult& result) {
    switch (result.outcome) {
    case edb::ScanOutcome::Complete:
        return 0;
    case edb::ScanOutcome::NoMailbox:
        return 2;
    default:
        return 1;
    }
}

} // namespace edbcli
