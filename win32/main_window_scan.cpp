// Opening the store and the scan: Browse, a path given or dropped, the scan worker and what it
// hands the window, the scan's end, and Stop.
#include "win32/main_window.h"

#include "frontend/scan_texts.h"
#include "frontend/store_file_texts.h"
#include "views/texts.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"
#include "win32/window_texts.h"

#include <filesystem>

namespace edbwin {

namespace {

// The scan's host: the position goes by one posted message that carries no data (the newest
// position waits in an atomic), the mailbox names through the inbox.
class PostingScanHost : public edb::ScanHost {
public:
    PostingScanHost(HWND window, Inbox& inbox, std::shared_ptr<std::atomic<int>> latest,
                    std::function<void(std::vector<std::string>)> rows)
        : m_window(window), m_inbox(inbox), m_latest(std::move(latest)), m_rows(std::move(rows)) {}

    void progress(std::int64_t position) override {
        const int p = edb::ClampProgress(position);
        if (p == m_shown) {
            return; // one update per visible change, not per page
        }
        m_shown = p;
        if (m_latest->exchange(p) == -1) {
            PostMessageW(m_window, kProgressMessage, 0, 0);
        }
    }

    void mailboxRowsReady(const std::vector<std::string>& names) override { m_rows(names); }

private:
    HWND m_window;
    Inbox& m_inbox;
    std::shared_ptr<std::atomic<int>> m_latest;
    std::function<void(std::vector<std::string>)> m_rows;
    int m_shown = -1;
};

} // namespace

void MainWindow::browse() {
    if (!m_session.allowed(edb::session::Command::Open)) {
        return; // one store file per run while it shows mailboxes
    }
    SetItemText(hwnd(), IDC_PATH_EDIT, "");
    const std::string path = m_prompts.chooseStoreFile(hwnd());
    if (!path.empty()) {
        beginStore(path);
    }
}

bool MainWindow::openStore(const std::string& path) {
    if (!m_session.allowed(edb::session::Command::Open)) {
        return false; // one store file per run: the first Browse was taken
    }
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(Wide(path), ec);
    beginStore(ec ? path : Utf8(full.wstring()));
    return true;
}

void MainWindow::beginStore(const std::string& path) {
    if (m_session.phase() == edb::session::Phase::NotAStore) {
        // The last file held no mailbox: only its page list is left to forget.
        m_catalog.pageList.clear();
        m_catalog.longValueKeys.clear();
        m_catalog.recordedPageCount = 0;
    }
    if (!m_session.openStore(path)) {
        return;
    }
    m_sourcePath = path;
    SetItemText(hwnd(), IDC_PATH_EDIT, path);
    ShowWindow(item(IDC_PROGRESS_FRAME), SW_SHOW);
    SendMessageW(item(IDC_PROGRESS), PBM_SETRANGE32, 0, 100);
    SendMessageW(item(IDC_PROGRESS), PBM_SETPOS, 0, 0);
    ShowWindow(item(IDC_PROGRESS), SW_SHOW);
    startScan();
    applyCommands();
}

void MainWindow::startScan() {
    m_scanRunning = true;
    showStatus(std::string(" ") + kCaption); // what the last scan could not read is forgotten
    ++m_pending;
    m_scanToken = std::make_shared<edb::CancelToken>();
    m_session.startTask(edb::session::Task::Scan, m_scanToken);
    const std::string path = m_sourcePath;
    m_workers.start(m_scanToken, [this, path, token = m_scanToken] {
        PostingScanHost host(hwnd(), m_inbox, m_latestProgress,
                             [this](std::vector<std::string> names) {
                                 m_inbox.post([this, names = std::move(names)] {
                                     mailboxRowsReady(names);
                                 });
                             });
        // RunScan says how it ended, stops and failures included; nothing is swallowed here.
        const edb::ScanResult result = edb::RunScan(m_catalog, path, host, token.get());
        m_inbox.post([this, result] { scanFinished(result); });
    });
}

void MainWindow::showProgress(int position) {
    if (position >= 0) {
        SendMessageW(item(IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }
}

void MainWindow::mailboxRowsReady(const std::vector<std::string>& names) {
    const HWND list = item(IDC_MAILBOX_LIST);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (const std::string& name : names) {
        std::wstring text = Wide(name);
        LVITEMW row{};
        row.mask = LVIF_TEXT;
        row.iItem = ListView_GetItemCount(list);
        row.pszText = text.data();
        ListView_InsertItem(list, &row);
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void MainWindow::scanFinished(const edb::ScanResult& result) {
    using edb::session::ScanEnd;
    m_scanRunning = false;
    --m_pending;
    m_session.finishTask(edb::session::Task::Scan, m_scanToken);
    // What the disk did not give back stays said until the next scan.
    if (!result.unreadable.empty()) {
        showStatus(" " + edb::views::ScanStatusText(result.unreadable));
    }
    const auto hideProgress = [this] {
        ShowWindow(item(IDC_PROGRESS), SW_HIDE);
        ShowWindow(item(IDC_PROGRESS_FRAME), SW_HIDE);
    };
    // Back to Ready: the user may pick another file.
    const auto backToReady = [&] {
        hideProgress();
        SetItemText(hwnd(), IDC_PATH_EDIT, "");
        applyCommands(); // before the message box, which is read with the window behind it
    };
    switch (result.outcome) {
    case edb::ScanOutcome::Complete:
        m_session.scanEnded(ScanEnd::Complete);
        m_session.pickMailbox(std::nullopt); // Next waits for the next pick
        ShowWindow(item(IDC_PROGRESS), SW_HIDE);
        break;
    case edb::ScanOutcome::NoMailbox:
        // Why, in the words edb2eml prints: another kind of file, or a damaged store.
        m_session.scanEnded(ScanEnd::NoMailbox);
        backToReady();
        m_prompts.showError(hwnd(), edb::NoMailboxText(m_sourcePath, m_catalog));
        m_sourcePath.clear();
        break;
    case edb::ScanOutcome::Stopped:
        m_session.scanEnded(ScanEnd::Stopped);
        break; // the window keeps what was found; the scan never goes on
    case edb::ScanOutcome::OpenFailed:
        m_session.scanEnded(ScanEnd::OpenFailed);
        backToReady();
        m_prompts.showError(hwnd(), edb::ScanEndText(result));
        m_sourcePath.clear();
        break;
    case edb::ScanOutcome::ReadError:
    case edb::ScanOutcome::Failed:
        // What was found stays shown; the scanning state ends.
        m_session.scanEnded(ScanEnd::Failed);
        m_session.pickMailbox(std::nullopt);
        hideProgress();
        applyCommands(); // Stop goes grey before the message is read
        m_prompts.showError(hwnd(), edb::ScanEndText(result));
        break;
    case edb::ScanOutcome::OutOfMemory:
        // "Not Enough Memory", then the end: a failure must not end with status 0.
        m_prompts.showError(hwnd(), edb::ScanEndText(result));
        endRun(1);
        return;
    }
    applyCommands();
}

void MainWindow::stop() {
    const bool running = m_scanRunning;
    if (running && m_scanToken != nullptr) {
        m_scanToken->pause(); // takes hold at the scan's next page boundary
    }
    const bool yes = m_prompts.askYesNo(hwnd(), kStopQuestion);
    if (!running || m_scanToken == nullptr) {
        return;
    }
    if (yes) {
        m_session.stopScan(); // the scan never goes on; what it found stays usable
    } else {
        m_scanToken->resume();
    }
}

} // namespace edbwin
