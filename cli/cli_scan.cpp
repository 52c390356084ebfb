#include "cli/cli_scan.h"

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/terminal_text.h"
#include "frontend/scan_texts.h"
#include "frontend/store_file_texts.h"
#include "frontend/unreadable_texts.h"
#include "views/progress.h"

#include <algorithm>
#include <iostream>

namespace edbcli {

CliScanHost::CliScanHost(bool showProgress) : m_bar("Scanning", showProgress) {}

int CliScanHost::overall(std::int64_t position) const {
    return m_progress.overallPercent(position);
}

void CliScanHost::progress(std::int64_t position) {
    m_bar.show(overall(position));
}

void CliScanHost::stageFinished(const char* stage) {
    if (m_progress.stageFinished(stage)) {
        m_bar.show(overall(0));
    }
}

void CliScanHost::mailboxRowsReady(const std::vector<std::string>&) {}

edb::ScanResult scanStore(edb::StoreCatalog& catalog, const std::string& path, bool progress) {
    CliScanHost host(progress);
    edb::CancelToken interrupt;
    edb::ScanResult result;
    {
        const InterruptGuard guard(interrupt);
        result = edb::RunScan(catalog, path, host, &interrupt);
    }
    host.finishProgress();
    if (interrupt.cancelled() && result.outcome == edb::ScanOutcome::Stopped) {
        std::cerr << "edb2eml: interrupted; the scan of " << TerminalText(path)
                  << " stopped and nothing was written\n";
        throw ScanInterrupted{std::max(1, InterruptGuard::exitStatus())};
    }
    noteUnreadable(path, result.unreadable);
    switch (result.outcome) {
    case edb::ScanOutcome::NoMailbox:
        std::cerr << edb::NoMailboxText(path, catalog) << '\n'; // the window's
        break;
    case edb::ScanOutcome::OutOfMemory:
        std::cerr << TerminalText(edb::ScanEndText(result)) << '\n'; // the window's text
        break;
    case edb::ScanOutcome::OpenFailed:
    case edb::ScanOutcome::ReadError:
    case edb::ScanOutcome::Failed:
        std::cerr << "edb2eml: " << TerminalText(edb::ScanEndText(result)) << '\n';
        break;
    case edb::ScanOutcome::Complete:
    case edb::ScanOutcome::Stopped:
        break;
    }
    return result;
}

void noteUnreadable(const std::string& path, const std::vector<edb::UnreadableRange>& ranges) {
    if (ranges.empty()) {
        return;
    }
    std::cerr << "edb2eml: " << TerminalText(path)
              << ": read incompletely: " << edb::UnreadableSummaryText(ranges)
              << "; what they held is missing (the rest was read)\n";
    g_storeIncomplete = true;
}

bool reportIfStoreChanged(const edb::StoreCatalog& catalog) {
    if (!edb::StoreSizeChanged(catalog)) {
        return false;
    }
    std::cerr << "edb2eml: " << TerminalText(edb::FileChangedText(catalog.storeFile.fileName()))
              << '\n';
    g_storeChanged = true;
    return true;
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
