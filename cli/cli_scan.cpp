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
    // Test hook, documented in the README: EDB2EML_FAIL_READ_AT=OFFSET fails every read that
    // covers OFFSET with EIO, so the read-error path can be tested without a failing disk.
    if (const char* failAt = std::getenv("EDB2EML_FAIL_READ_AT"); failAt != nullptr) {
        char* end = nullptr;
        const std::uint64_t at = std::strtoull(failAt, &end, 10);
        if (end != failAt && *end == '\0') {
            catalog.storeFile.setFaultInjector([at](std::uint64_t offset, std::size_t count) {
                return at >= offset && at - offset < count ? EIO : 0;
            });
        }
    }
    edb::ScanResult result = edb::RunScan(catalog, path, host);
    host.finishProgress();
    if (result.outcome == edb::ScanOutcome::OpenFailed ||
        result.outcome == edb::ScanOutcome::ReadError ||
        result.outcome == edb::ScanOutcome::Failed) {
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
