// The main dialog's commands and the workers they start.
#include "app/folder_tree_view.h"
#include "app/main_dialog.h"
#include "app/report_list_view.h"
#include "catalog/list_rows.h"
#include "frontend/list_columns.h"
#include "frontend/scan_texts.h"
#include "platform/platform.h"

#include <QAction>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
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

// Collects a tree build's items and hands them to the window in batches. Handles are reserved
// here, so the build names parents and writes tree items without waiting for the window.
class BatchingTreeSink : public edb::TreeSink {
public:
    using Deliver = std::function<void(std::vector<TreeBatchItem>&&)>;
    BatchingTreeSink(FolderTreeView& tree, Deliver deliver)
        : m_tree(tree), m_deliver(std::move(deliver)) {}

    edb::TreeItem insertItem(edb::TreeItem parent, const std::string& text, int image,
                             const std::string&) override {
        const edb::TreeItem handle = m_tree.reserveHandle();
        m_batch.push_back(TreeBatchItem{handle, parent, QString::fromStdString(text), image});
        // Full batches, and at least a few a second, so a long build shows as it goes.
        if (m_batch.size() >= kBatchItems || Clock::now() - m_last >= kBatchTime) {
            flush();
        }
        return handle;
    }

    void flush() {
        if (!m_batch.empty()) {
            m_deliver(std::move(m_batch));
            m_batch.clear();
        }
        m_last = Clock::now();
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kBatchItems = 256;
    static constexpr auto kBatchTime = std::chrono::milliseconds(100);
    FolderTreeView& m_tree;
    Deliver m_deliver;
    std::vector<TreeBatchItem> m_batch;
    Clock::time_point m_last = Clock::now();
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
    m_scanStarted = true;
    m_scanRunning = true;
    const std::string path = m_state.sourcePath;
    m_scanToken = m_workers.start([this, path](const edb::CancelToken& token) {
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
    m_scanRunning = false;
    m_scanResult = result;
    switch (result.outcome) {
    case edb::ScanOutcome::Complete:
        m_progress->hide();
        m_next->setEnabled(false);
        break;
    case edb::ScanOutcome::NoMailbox:
        edb::platform().showError(this, QString::fromLatin1(edb::kNoMailboxText));
        break; // the window stays as it is; only Exit and Close remain useful
    case edb::ScanOutcome::Stopped:
        break; // likewise
    case edb::ScanOutcome::OpenFailed:
        // Back to Ready: the user may pick another file.
        edb::platform().showError(this, QString::fromStdString(edb::ScanEndText(result)));
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
    case edb::ScanOutcome::Failed:
        // What was found stays shown; the scanning state ends.
        edb::platform().showError(this, QString::fromStdString(edb::ScanEndText(result)));
        m_progress->hide();
        m_progressFrame->hide();
        m_stop->setEnabled(false);
        m_next->setEnabled(false);
        break;
    case edb::ScanOutcome::OutOfMemory:
        // "Not Enough Memory", then the end: a failure must not end with status 0.
        edb::platform().showError(this, QString::fromStdString(edb::ScanEndText(result)));
        edb::platform().exitProcess(1);
        break;
    }
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
        // The scan never goes on; the window keeps its scanning state.
        m_scanToken->cancel(edb::StopReason::User);
    } else {
        m_scanToken->resume();
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
    recordClickedName();
}

void MainDialog::recordClickedName() {
    // All of it is control and window state: done here, not on a thread that would only wait
    // for the window thread to do it.
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
    if (treeWorkerRunning()) {
        return;
    }
    ++m_state.stepIndex;
    edb::ClearTreeItems(m_catalog);
    startTreeWorker();
}

void MainDialog::backUserMailbox() {
    if (treeWorkerRunning()) {
        return;
    }
    --m_state.stepIndex;
    m_folderTree->deleteAllItems();
    ++m_treeGeneration; // whatever an earlier build still has on its way is dropped
    m_messageList->setRowCount(0);
    edb::ClearTreeItems(m_catalog);
    startTreeWorker();
}

void MainDialog::startTreeWorker() {
    // Counted here and uncounted when the build's last batch has been shown, so Next User
    // Mailbox and Back User Mailbox wait for what is still on its way.
    ++m_treeBuildsRunning;
    ++m_deliveriesPending;
    const std::int32_t step = m_state.stepIndex;
    const std::uint64_t generation = m_treeGeneration;
    m_workers.start([this, step, generation](const edb::CancelToken& cancel) {
        runTreeWorker(step, generation, cancel);
    });
}

void MainDialog::runTreeWorker(std::int32_t stepIndex, std::uint64_t generation,
                               const edb::CancelToken& cancel) {
    // Queued, never waited for: the build goes on while the window shows what it has. Posted
    // calls keep their order, so every batch is shown before the build's end.
    BatchingTreeSink sink(*m_folderTree, [this, generation](std::vector<TreeBatchItem>&& items) {
        auto batch = std::make_shared<const std::vector<TreeBatchItem>>(std::move(items));
        QMetaObject::invokeMethod(
            this, [this, generation, batch] { showTreeBatch(generation, *batch); },
            Qt::QueuedConnection);
    });
    const edb::TreeBuildResult r =
        edb::BuildFolderTree(m_catalog, stepIndex, sink, &m_state.savedFolders, &cancel);
    sink.flush();
    QMetaObject::invokeMethod(
        this, [this, r] { treeBuildFinished(r); }, Qt::QueuedConnection);
}

void MainDialog::showTreeBatch(std::uint64_t generation, const std::vector<TreeBatchItem>& batch) {
    if (generation != m_treeGeneration) {
        return; // the view was emptied after this build started
    }
    for (const TreeBatchItem& i : batch) {
        m_folderTree->insertFolderItemAs(i.handle, i.parent, i.text, i.image);
    }
}

void MainDialog::treeBuildFinished(const edb::TreeBuildResult& r) {
    // Onwards while the step still found a mailbox; back from any step past the first.
    m_nextUser->setEnabled(r.mailboxAtStep);
    m_backUser->setEnabled(r.stepIndex > 1);
    --m_treeBuildsRunning;
    --m_deliveriesPending;
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
    // A newer listing makes every earlier one stale: it is cancelled, and rows of it already on
    // their way are dropped by the generation, never mixed in.
    const std::uint64_t generation = ++m_listGeneration;
    m_state.shownFolderItem = item;
    m_messageList->setRowCount(0);
    if (m_listToken) {
        m_listToken->cancel(edb::StopReason::Superseded);
    }
    ++m_deliveriesPending;
    m_listToken = m_workers.start([this, item, generation](const edb::CancelToken& cancel) {
        runListing(item, generation, cancel);
        QMetaObject::invokeMethod(
            this, [this] { --m_deliveriesPending; }, Qt::QueuedConnection);
    });
}

void MainDialog::runListing(edb::TreeItem item, std::uint64_t generation,
                            const edb::CancelToken& cancel) {
    const edb::FolderNode* folder = edb::FolderForTreeItem(m_catalog, item);
    if (folder == nullptr) {
        return; // a root or a stale item: the view stays empty
    }
    // Queued, never waited for: the listing reads on while the window shows its rows. Each
    // delivery is checked against the newest listing on the window thread.
    const auto post = [this, generation](auto fn) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, fn = std::move(fn)] {
                if (m_listGeneration.load() == generation) {
                    fn();
                }
            },
            Qt::QueuedConnection);
    };
    auto columns = std::make_shared<std::vector<std::pair<QString, int>>>();
    const edb::ListLayout layout = edb::ListLayoutFor(*folder);
    for (const edb::ListColumn& c : edb::ListColumnsFor(*folder)) {
        columns->emplace_back(QString::fromStdString(c.heading),
                              edb::ListColumnWidth(layout, columns->size()));
    }
    post([this, columns] {
        m_messageList->setColumns(*columns);
        fitDateColumn();
    });
    auto batch = std::make_shared<std::vector<ReportRow>>();
    const auto flush = [&] {
        post([this, rows = std::move(batch)] { m_messageList->appendRows(*rows); });
        batch = std::make_shared<std::vector<ReportRow>>();
    };
    edb::ForEachMessageRow(m_catalog, *folder, [&](edb::ListRow&& row) {
        if (cancel.cancelled()) {
            return false;
        }
        ReportRow r;
        for (const std::string& c : row.cells) {
            r.cells << QString::fromStdString(c);
        }
        r.number = row.number;
        if (row.cells.size() > 1) {
            r.time = row.filetime;
        }
        r.tag = reinterpret_cast<quintptr>(row.entry);
        batch->push_back(std::move(r));
        if (batch->size() >= kRowBatch) {
            flush();
        }
        return true;
    });
    if (!batch->empty() && !cancel.cancelled()) {
        flush();
    }
}

} // namespace edbapp
