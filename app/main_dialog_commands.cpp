// The main dialog's commands and the workers they start.
#include "app/folder_tree_view.h"
#include "app/main_dialog.h"
#include "app/report_list_view.h"
#include "message/list_rows.h"
#include "platform/platform.h"

#include <QAction>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

namespace edbapp {

namespace {

// The scan's host in the window: every request is carried out on the window thread.
class WindowScanHost : public edb::ScanHost {
public:
    WindowScanHost(WindowGate& gate, MainDialog& dialog, ReportListView& mailboxes,
                   QProgressBar& bar, std::function<void()> afterRows)
        : m_gate(gate), m_dialog(dialog), m_mailboxes(mailboxes), m_bar(bar),
          m_afterRows(std::move(afterRows)) {}

    void progress(std::int64_t position) override {
        const int p = edb::ClampProgress(position);
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
            for (const std::string& name : names) {
                m_mailboxes.appendRow({QString::fromStdString(name)});
            }
        });
        m_afterRows();
    }

    void errorMessage(const std::string& text) override {
        m_gate.call([&] { edb::platform().showError(&m_dialog, QString::fromStdString(text)); });
    }

private:
    WindowGate& m_gate;
    MainDialog& m_dialog;
    ReportListView& m_mailboxes;
    QProgressBar& m_bar;
    std::function<void()> m_afterRows;
    int m_shown = -1;
    static constexpr int kNonePending = -1;
    std::shared_ptr<std::atomic<int>> m_latest = std::make_shared<std::atomic<int>>(kNonePending);
};

// Inserts the tree worker's items into the folder tree view, one blocking call per item.
class WindowTreeSink : public edb::TreeSink {
public:
    WindowTreeSink(WindowGate& gate, FolderTreeView& tree) : m_gate(gate), m_tree(tree) {}
    edb::TreeItem insertItem(edb::TreeItem parent, const std::string& text, int image,
                             const std::string&) override {
        edb::TreeItem item = 0;
        m_gate.call(
            [&] { item = m_tree.insertFolderItem(parent, QString::fromStdString(text), image); });
        return item;
    }

private:
    WindowGate& m_gate;
    FolderTreeView& m_tree;
};

constexpr std::size_t kRowBatch = 256;

} // namespace

void MainDialog::browse() {
    if (m_scanStarted && !m_browse->isEnabled()) {
        return; // one store file per run
    }
    m_pathEdit->clear();
    const QString path =
        edb::platform().chooseOpenFile(this, QStringLiteral("Select Exchange Server File"),
                                       QStringLiteral("Exchange Server File (*.edb)"));
    if (path.isEmpty()) {
        return;
    }
    beginStore(path);
}

bool MainDialog::browseAllowed() const {
    return m_browse->isEnabled();
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
    m_chosenPath = path;
    m_pathEdit->setText(path);
    m_state.sourcePath = path.toStdString();
    update();

    m_stop->setEnabled(true);
    m_browse->setEnabled(false);
    m_nextUser->setEnabled(false);
    m_backUser->setEnabled(false);
    m_pathEdit->show();
    m_progressFrame->show();
    m_progress->setValue(0);
    m_progress->show();
    m_openAction->setEnabled(false);
    m_saveAction->setEnabled(false);
    startScan();
}

void MainDialog::startScan() {
    m_scanControls.push_back(std::make_unique<edb::ScanControl>());
    m_scanControl = m_scanControls.back().get();
    m_scanStarted = true;
    m_scanRunning = true;
    edb::ScanControl* control = m_scanControl;
    const std::string path = m_state.sourcePath;
    m_workers.start([this, control, path] {
        WindowScanHost host(m_gate, *this, *m_mailboxList, *m_progress, [this, control] {
            if (m_pauseAfterRows.load()) {
                control->requestPause();
            }
        });
        edb::ScanResult result;
        try {
            result = edb::RunScan(m_catalog, path, host, control);
        } catch (...) {
            // A failure inside the scan ends this worker quietly.
            result.outcome = edb::ScanOutcome::Stopped;
        }
        if (!m_gate.call([&] { scanFinished(result); })) {
            m_scanRunning = false;
        }
    });
}

void MainDialog::scanFinished(const edb::ScanResult& result) {
    m_scanRunning = false;
    m_scanResult = result;
    switch (result.outcome) {
    case edb::ScanOutcome::Complete:
        m_progress->hide();
        m_next->setEnabled(false);
        break;
    case edb::ScanOutcome::NoMailbox:
    case edb::ScanOutcome::Stopped:
        break; // the window stays as it is; only Exit and Close remain useful
    case edb::ScanOutcome::OpenFailed:
        // Back to Ready: the user may pick another file.
        edb::platform().showError(this, QString::fromStdString(result.message));
        m_progress->hide();
        m_progressFrame->hide();
        m_stop->setEnabled(false);
        m_next->setEnabled(false);
        m_pathEdit->clear();
        m_browse->setEnabled(true);
        m_openAction->setEnabled(true);
        m_state.sourcePath.clear();
        break;
    case edb::ScanOutcome::ReadError:
        // What was found stays shown; the scanning state ends.
        edb::platform().showError(this, QString::fromStdString(result.message));
        m_progress->hide();
        m_progressFrame->hide();
        m_stop->setEnabled(false);
        m_next->setEnabled(false);
        break;
    case edb::ScanOutcome::OutOfMemory:
        // The scan has shown "Not Enough Memory"; a failure must not end with status 0.
        edb::platform().exitProcess(1);
        break;
    }
}

void MainDialog::stop() {
    const bool running = m_scanRunning.load();
    if (running && m_scanControl != nullptr) {
        m_scanControl->requestPause(); // takes hold at the scan's next page boundary
    }
    const bool yes = edb::platform().askYesNo(this, QString::fromLatin1(kStopQuestion));
    if (!running || m_scanControl == nullptr) {
        return;
    }
    if (yes) {
        // The scan never goes on; the window keeps its scanning state.
        m_scanControl->requestStop();
    } else {
        m_scanControl->resume();
    }
}

void MainDialog::mailboxClicked() {
    const int mark = m_mailboxList->selectionMark();
    if (mark < 0 || mark >= m_mailboxList->rowCount()) {
        return; // no row was ever selected
    }
    QTableWidgetItem* cell = m_mailboxList->item(mark, 0);
    m_lastClickedName = cell != nullptr ? cell->text().toStdString() : std::string();
    for (const std::string& name : m_state.clickedNames) {
        if (name == m_lastClickedName) {
            m_next->setEnabled(false);
            return;
        }
    }
    m_workers.start([this] { runClickWorker(); });
}

void MainDialog::runClickWorker() {
    m_gate.call([this] {
        const int mark = m_mailboxList->selectionMark();
        QTableWidgetItem* cell = mark >= 0 ? m_mailboxList->item(mark, 0) : nullptr;
        if (cell == nullptr) {
            return;
        }
        const std::string name = cell->text().toStdString();
        if (name == m_lastRecordedName) {
            return;
        }
        m_lastRecordedName = name;
        m_next->setEnabled(true);
        m_state.clickedNames.push_back(name);
    });
}

void MainDialog::next() {
    const int mark = m_mailboxList->selectionMark();
    const bool chosen = edb::ChooseMailbox(m_catalog, mark, m_state.stepIndex);
    if (mark >= 0) {
        m_next->setEnabled(true);
    }
    if (!chosen) {
        edb::platform().showError(this, QStringLiteral("Please Select Any Mailbox"));
        return;
    }
    startTreeWorker();
    m_convert->setEnabled(true);
    m_next->setEnabled(false);
}

void MainDialog::nextUserMailbox() {
    if (m_treeWorkerRunning.load()) {
        return;
    }
    ++m_state.stepIndex;
    edb::ClearTreeItems(m_catalog);
    startTreeWorker();
}

void MainDialog::backUserMailbox() {
    if (m_treeWorkerRunning.load()) {
        return;
    }
    --m_state.stepIndex;
    m_folderTree->deleteAllItems();
    m_messageList->setRowCount(0);
    edb::ClearTreeItems(m_catalog);
    startTreeWorker();
}

void MainDialog::startTreeWorker() {
    // Set before the worker starts, so a short build cannot clear it first.
    m_treeWorkerRunning = true;
    const std::int32_t step = m_state.stepIndex;
    m_workers.start([this, step] { runTreeWorker(step); });
}

void MainDialog::runTreeWorker(std::int32_t stepIndex) {
    WindowTreeSink sink(m_gate, *m_folderTree);
    const edb::TreeBuildResult r =
        edb::BuildFolderTree(m_catalog, stepIndex, sink, &m_state.savedFolders);
    m_gate.call([&] {
        m_nextUser->setEnabled(r.nextUserMailboxEnabled);
        m_backUser->setEnabled(r.backUserMailboxEnabled);
    });
    m_treeWorkerRunning = false;
}

bool MainDialog::isSavedItem(edb::TreeItem item) const {
    return m_state.savedFolders.isSaved(m_folderTree->rootText().toStdString(), item);
}

void MainDialog::fitDateColumn() {
    // The widest date text there is: two-digit day, month, hour, minute and second.
    const int needed = m_messageList->fontMetrics().horizontalAdvance(
                           QStringLiteral("Wed 28/12/2024 12:59:59 PM")) +
                       12;
    for (int c = 0; c < m_messageList->columnCount(); ++c) {
        const QTableWidgetItem* heading = m_messageList->horizontalHeaderItem(c);
        if (heading != nullptr && heading->text() == QLatin1String("Date") &&
            m_messageList->columnWidth(c) < needed) {
            m_messageList->setColumnWidth(c, needed);
        }
    }
}

void MainDialog::folderPicked(edb::TreeItem item) {
    if (item == m_state.shownFolderItem.load()) {
        return; // already listed
    }
    startListing(item);
}

void MainDialog::startListing(edb::TreeItem item) {
    // A newer listing makes every earlier one stale: its rows are dropped, never mixed in.
    const std::uint64_t generation = ++m_listGeneration;
    m_state.shownFolderItem = item;
    m_messageList->setRowCount(0);
    m_workers.start([this, item, generation] { runListing(item, generation); });
}

void MainDialog::runListing(edb::TreeItem item, std::uint64_t generation) {
    const auto current = [&] { return m_listGeneration.load() == generation; };
    const edb::FolderNode* folder = edb::FolderForTreeItem(m_catalog, item);
    if (folder == nullptr) {
        return; // a root or a stale item: the view stays empty
    }
    const std::vector<edb::ListColumn> columns = edb::ListColumnsFor(*folder);
    bool alive = m_gate.call([&] {
        if (!current()) {
            return;
        }
        std::vector<std::pair<QString, int>> cols;
        for (const edb::ListColumn& c : columns) {
            cols.emplace_back(QString::fromStdString(c.heading), c.width);
        }
        m_messageList->setColumns(cols);
        fitDateColumn();
    });
    std::vector<edb::ListRow> batch;
    const auto flush = [&] {
        alive = m_gate.call([&] {
            if (!current()) {
                return;
            }
            std::vector<ReportRow> rows;
            rows.reserve(batch.size());
            for (const edb::ListRow& row : batch) {
                ReportRow r;
                for (const std::string& c : row.cells) {
                    r.cells << QString::fromStdString(c);
                }
                r.number = row.number;
                if (row.cells.size() > 1) {
                    r.time = row.filetime;
                }
                r.tag = reinterpret_cast<quintptr>(row.entry);
                rows.push_back(std::move(r));
            }
            m_messageList->appendRows(rows);
        });
        batch.clear();
    };
    edb::ForEachMessageRow(m_catalog, *folder, [&](edb::ListRow&& row) {
        if (!alive || !current()) {
            return false;
        }
        batch.push_back(std::move(row));
        if (batch.size() >= kRowBatch) {
            flush();
        }
        return true;
    });
    if (alive && !batch.empty() && current()) {
        flush();
    }
}

} // namespace edbapp
