#include "cli/cli_scan.h"

#include <cstdio>
#include <iostream>

#include <unistd.h>

namespace edbcli {

CliScanHost::CliScanHost(bool showProgress)
    : m_showProgress(showProgress && ::isatty(STDERR_FILENO) == 1) {}

CliScanHost::~CliScanHost() {
    finishProgress();
}

void CliScanHost::progress(std::int64_t position) {
    if (!m_showProgress) {
        return;
    }
    const int p = edb::ClampProgress(position);
    if (p == m_shown) {
        return;
    }
    m_shown = p;
    const int width = 40;
    const int filled = p * width / 100;
    std::fprintf(stderr, "\rScanning [%.*s%*s] %3d%%", filled,
                 "########################################", width - filled, "", p);
    std::fflush(stderr);
}

void CliScanHost::finishProgress() {
    if (m_showProgress && m_shown >= 0) {
        std::fprintf(stderr, "\r%*s\r", 60, "");
        std::fflush(stderr);
        m_shown = -1;
    }
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
