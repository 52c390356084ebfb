// Opening the store and the scan: Browse, a path given or dropped, the scan worker and its
// host in the window, the scan's end, and Stop.
#include "app/main_dialog.h"
#include "views/controls.h"
#include "views/progress.h"
#include "views/texts.h"
#include "app/report_list_view.h"
#include "frontend/scan_texts.h"
#include "frontend/store_file_texts.h"
#include "platform/platform.h"

#include <QAction>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

namespace edbapp {

namespace {

// The scan's host in the window: every request is carried out on the window thread.
class WindowScanHost : public edb::ScanHost {
public:
    WindowScanHost(WindowGate& gate, ReportListView& mailboxes, QProgressBar& bar,
                   std::function<void()> afterRows)
        : m_gate(gate), m_mailboxes(mailboxes), m_bar(bar), m_afterRows(std::move(afterRows)) {}

    void progress(std::int64_t position) override {
        // The window's bar shows each stage's own position.
        const int p = edb::views::ScanProgress::stagePercent(position);
        if (p == m_shown) {
            return; // one update per visible change, not per page
        }
        m_shown = p;
        // Posted, never waited for: the scan does not stop for the window. At most one update
        // is pending; a newer position replaces one the window has not taken yet. Posted
        // events keep their order, so the bar is set before a later request (the scan's end)
        // hides it. Queued with the bar as context: dropped if the bar is gone.
        if (m_latest->exchange(p) == kNonePending) {
            QMetaObject::invokeMethod(
                &m_bar,
                [bar = &m_bar, latest = m_latest] {
                    const int value = latest->exchange(kNonePending);
                    if (value != kNonePending) {
                        bar->setValue(value);
                    }
                },
                Qt::QueuedConnection);
        }
    }

    void mailboxRowsReady(const std::vector<std::string>& names) override {
        m_gate.call([&] {
            // Before the rows show: whoever sees them may already press Stop.
            m_afterRows();
            for (const std::string& name : names) {
                m_mailboxes.appendRow({QString::fromStdString(name)});
            }
        });
    }

private:
    WindowGate& m_gate;
    ReportListView& m_mailboxes;
    QProgressBar& m_bar;
    std::function<void()> m_afterRows;
    int m_shown = -1;
    static constexpr int kNonePending = -1;
    std::shared_ptr<std::atomic<int>> m_latest = std::make_shared<std::atomic<int>>(kNonePending);
};

} // namespace

void MainDialog::browse() {
    if (!m_session.allowed(edb::session::Command::Open)) {
        return; // one store file per run while it shows mailboxes
    }
    m_pathEdit->clear();
    const QString path =
        edb::platform().chooseOpenFile(this, QString::fromLatin1(edb::views::kOpenFileTitle),
                                       QString::fromLatin1(edb::views::kOpenFileFilter));
    if (path.isEmpty()) {
        return;
    }
    beginStore(path);
}

bool MainDialog::browseAllowed() const {
    return m_session.allowed(edb::session::Command::Open);
}

void MainDialog::applyCommands() {
    // Every button and menu item as the session's step allows it, after every step.
    const edb::views::ControlStates c = edb::views::ControlStatesOf(m_session);
    m_browse->setEnabled(c.browse);
    m_openAction->setEnabled(c.browse);
    m_stop->setEnabled(c.stop);
    m_next->setEnabled(c.next);
    m_nextUser->setEnabled(c.nextUserMailbox);
    m_backUser->setEnabled(c.backUserMailbox);
    m_convert->setEnabled(c.convert);
    m_saveAction->setEnabled(c.save);
    m_findAction->setEnabled(c.find);
}

bool MainDialog::openStore(const QString& path) {
    if (!browseAllowed()) {
        return false; // one store file per run: the first Browse was taken
    }
    m_pathEdit->clear();
    beginStore(QFileInfo(path).absoluteFilePath());
    return true;
}

void MainDialog::openStoreWhenShown(const QString& path) {
    QTimer::singleShot(0, this, [this, path] { (void)openStore(path); });
}

void MainDialog::beginStore(const QString& path) {
    if (m_session.phase() == edb::session::Phase::NotAStore) {
        // The last file held no mailbox: only its page list is left to forget.
        m_catalog.pageList.clear();
        m_catalog.longValueKeys.clear();
        m_catalog.recordedPageCount = 0;
    }
    if (!m_session.openStore(path.toStdString())) {
        return;
    }
    m_chosenPath = path;
    m_pathEdit->setText(path);
    m_state.sourcePath = path.toStdString();
    update();

    m_pathEdit->show();
    m_progressFrame->show();
    m_progress->setValue(0);
    m_progress->show();
    startScan();
    applyCommands();
}

void MainDialog::startScan() {
    m_scanRunning = true;
    m_statusBar->clearMessage();
    const std::string path = m_state.sourcePath;
    m_scanToken = std::make_shared<edb::CancelToken>();
    m_session.startTask(edb::session::Task::Scan, m_scanToken);
    m_workers.start(m_scanToken, [this, path, scanToken = m_scanToken] {
        const edb::CancelToken& token = *scanToken;
        // The hook runs on the window thread (inside the rows request), after m_scanToken is set.
        WindowScanHost host(m_gate, *m_mailboxList, *m_progress, [this] {
            if (m_pauseAfterRows.load()) {
                m_scanToken->pause();
            }
        });
        // RunScan says how it ended, stops and failures included; nothing is swallowed here.
        const edb::ScanResult result = edb::RunScan(m_catalog, path, host, &token);
        if (!m_gate.call([&] { scanFinished(result); })) {
            m_scanRunning = false;
        }
    });
}

void MainDialog::scanFinished(const edb::ScanResult& result) {
    using edb::session::ScanEnd;
    m_scanRunning = false;
    m_scanResult = result;
    m_session.finishTask(edb::session::Task::Scan, m_scanToken);
    // What the disk did not give back stays said until the next scan.
    if (!result.unreadable.empty()) {
        m_statusBar->showMessage(
            QString::fromStdString(edb::views::ScanStatusText(result.unreadable)));
    }
    // Back to Ready: the user may pick another file.
    const auto backToReady = [this] {
        m_progress->hide();
        m_progressFrame->hide();
        m_pathEdit->clear();
        m_state.sourcePath.clear();
    };
    switch (result.outcome) {
    case edb::ScanOutcome::Complete:
        m_session.scanEnded(ScanEnd::Complete);
        m_session.pickMailbox(std::nullopt); // Next waits for the next click
        m_progress->hide();
        break;
    case edb::ScanOutcome::NoMailbox:
        // Why, in the words edb2eml prints: another kind of file, or a damaged store.
        m_session.scanEnded(ScanEnd::NoMailbox);
        edb::platform().showError(this, QString::fromStdString(edb::NoMailboxText(
                                             m_state.sourcePath, m_catalog)));
        backToReady();
        break;
    case edb::ScanOutcome::Stopped:
        m_session.scanEnded(ScanEnd::Stopped);
        break; // the window keeps what was found; the scan never goes on
    case edb::ScanOutcome::OpenFailed:
        m_session.scanEnded(ScanEnd::OpenFailed);
        edb::platform().showError(this, QString::fromStdString(edb::ScanEndText(result)));
        backToReady();
        break;
    case edb::ScanOutcome::ReadError:
    case edb::ScanOutcome::Failed:
        // What was found stays shown; the scanning state ends.
        m_session.scanEnded(ScanEnd::Failed);
        m_session.pickMailbox(std::nullopt);
        applyCommands(); // Stop goes grey before the message is read
        edb::platform().showError(this, QString::fromStdString(edb::ScanEndText(result)));
        m_progress->hide();
        m_progressFrame->hide();
        break;
    case edb::ScanOutcome::OutOfMemory:
        // "Not Enough Memory", then the end: a failure must not end with status 0.
        edb::platform().showError(this, QString::fromStdString(edb::ScanEndText(result)));
        edb::platform().exitProcess(1);
        break;
    }
    applyCommands();
}

void MainDialog::stop() {
    const bool running = m_scanRunning.load();
    if (running && m_scanToken != nullptr) {
        m_scanToken->pause(); // takes hold at the scan's next page boundary
    }
    const bool yes = edb::platform().askYesNo(this, QString::fromLatin1(kStopQuestion));
    if (!running || m_scanToken == nullptr) {
        return;
    }
    if (yes) {
        // The scan never goes on; what it found stays usable.
        m_session.stopScan();
    } else {
        m_scanToken->resume();
    }
}

} // namespace edbapp
