#include "cli/cli_scan.h"
#include "frontend/scan_texts.h"
#include "frontend/store_file_texts.h"

#include <iostream>

namespace edbcli {

CliScanHost::CliScanHost(bool showProgress) : m_bar("Scanning", showProgress) {}

void CliScanHost::progress(std::int64_t position) {
    m_bar.show(edb::ClampProgress(position));
}

void CliScanHost::mailboxRowsReady(const std::vector<std::string>&) {}

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
    switch (result.outcome) {
    case edb::ScanOutcome::NoMailbox:
        std::cerr << edb::NoMailboxText(path, catalog.recordedPageCount) << '\n'; // the window's
        break;
    case edb::ScanOutcome::OutOfMemory:
        std::cerr << edb::ScanEndText(result) << '\n'; // the window's message box text
        break;
    case edb::ScanOutcome::OpenFailed:
    case edb::ScanOutcome::ReadError:
    case edb::ScanOutcome::Failed:
        std::cerr << "edb2eml: " << edb::ScanEndText(result) << '\n';
        break;
    case edb::ScanOutcome::Complete:
    case edb::ScanOutcome::Stopped:
        break;
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
