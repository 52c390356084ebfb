// Mailboxes and folders: picking a mailbox, Next and the user-mailbox steps that build its
// folder tree on a worker, and the message listing of a picked folder.
#include "app/folder_tree_view.h"
#include "app/main_dialog.h"
#include "app/report_list_view.h"
#include "views/message_list.h"
#include "platform/platform.h"
#include "views/folder_items.h"
#include "views/texts.h"

#include <QPushButton>
#include <chrono>
#include <functional>
#include <memory>

namespace edbapp {

namespace {

// Collects a tree build's items and hands them to the window in batches. The build numbers its
// own items from a range the window gave it, so it names parents without waiting for the window
// and without touching the view.
class BatchingTreeSink : public edb::TreeSink {
public:
    using Deliver = std::function<void(std::vector<TreeBatchItem>&&)>;
    BatchingTreeSink(edb::TreeItem firstHandle, Deliver deliver)
        : m_next(firstHandle), m_deliver(std::move(deliver)) {}

    edb::TreeItem insertItem(edb::TreeItem parent, const std::string& text, char kind,
                             const std::string&, std::size_t folder) override {
        const edb::TreeItem handle = m_next++;
        m_batch.push_back(TreeBatchItem{handle, parent, QString::fromStdString(text),
                                        edb::views::TreeItemIcon(text, kind, folder), folder});
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
    edb::TreeItem m_next;
    Deliver m_deliver;
    std::vector<TreeBatchItem> m_batch;
    Clock::time_point m_last = Clock::now();
};

constexpr std::size_t kRowBatch = 256;

} // namespace

void MainDialog::mailboxClicked() {
    const int mark = m_mailboxList->selectionMark();
    if (mark < 0 || mark >= m_mailboxList->rowCount()) {
        return; // no row was ever selected
    }
    // A click only picks: the mailbox is recorded when Next adds it, so clicking around never
    // locks one out.
    m_session.pickMailbox(static_cast<std::size_t>(mark));
    applyCommands();
}

void MainDialog::next() {
    if (!m_session.allowed(edb::session::Command::Next)) {
        return;
    }
    // Next adds the mailbox the user sees highlighted, however it was reached.
    if (const int row = m_mailboxList->highlightedRow();
        row >= 0 && row < m_mailboxList->rowCount()) {
        m_session.pickMailbox(static_cast<std::size_t>(row));
    }
    switch (m_session.next()) {
    case edb::session::NextOutcome::NothingChosen:
        edb::platform().showError(this, QString::fromLatin1(edb::views::kSelectMailboxText));
        return;
    case edb::session::NextOutcome::AlreadyAdded:
        applyCommands();
        return;
    case edb::session::NextOutcome::Added:
        break;
    }
    startTreeWorker();
    applyCommands();
}

void MainDialog::nextUserMailbox() {
    if (!m_session.nextUserMailbox()) {
        return;
    }
    startTreeWorker();
    applyCommands();
}

void MainDialog::backUserMailbox() {
    if (!m_session.backUserMailbox()) {
        return;
    }
    m_folderTree->deleteAllItems();
    m_session.clearTree(); // the rebuilt tree starts unticked
    ++m_treeGeneration; // whatever an earlier build still has on its way is dropped
    m_messageList->setRowCount(0);
    m_state.shownFolderItem = 0;
    startTreeWorker();
    applyCommands();
}

void MainDialog::startTreeWorker() {
    // A session task from here until the build's last batch has been shown, so Next User
    // Mailbox and Back User Mailbox wait for what is still on its way.
    ++m_deliveriesPending;
    const std::optional<std::size_t> row = m_session.mailboxAtStep(m_session.step());
    const edb::FolderNode* mailbox = row ? edb::MailboxAt(m_catalog, *row) : nullptr;
    const edb::TreeItem firstHandle = m_nextBuildHandles;
    m_nextBuildHandles += edb::kMaxTreeItems + 1; // room for the largest build
    const std::uint64_t generation = m_treeGeneration;
    auto token = std::make_shared<edb::CancelToken>();
    m_session.startTask(edb::session::Task::TreeBuild, token, false);
    m_workers.start(token, [this, mailbox, firstHandle, generation, token] {
        runTreeWorker(mailbox, firstHandle, generation, token);
    });
}

void MainDialog::runTreeWorker(const edb::FolderNode* mailbox, edb::TreeItem firstHandle,
                               std::uint64_t generation,
                               const std::shared_ptr<edb::CancelToken>& cancel) {
    // Queued, never waited for: the build goes on while the window shows what it has. Posted
    // calls keep their order, so every batch is shown before the build's end.
    BatchingTreeSink sink(firstHandle, [this, generation](std::vector<TreeBatchItem>&& items) {
        auto batch = std::make_shared<const std::vector<TreeBatchItem>>(std::move(items));
        QMetaObject::invokeMethod(
            this, [this, generation, batch] { showTreeBatch(generation, *batch); },
            Qt::QueuedConnection);
    });
    edb::TreeBuildResult r;
    if (mailbox != nullptr) {
        r = edb::BuildFolderTree(m_catalog, *mailbox, sink, cancel.get());
    }
    sink.flush();
    QMetaObject::invokeMethod(
        this, [this, r, cancel] { treeBuildFinished(r, cancel); }, Qt::QueuedConnection);
}

void MainDialog::showTreeBatch(std::uint64_t generation, const std::vector<TreeBatchItem>& batch) {
    if (generation != m_treeGeneration) {
        return; // the view was emptied after this build started
    }
    for (const TreeBatchItem& i : batch) {
        if (m_folderTree->insertFolderItemAs(i.handle, i.parent, i.text,
                                             edb::views::FolderImageIndex(i.icon), i.folder)) {
            (void)m_session.addTreeItem(i.handle, i.parent, i.folder);
        }
    }
}

void MainDialog::treeBuildFinished(const edb::TreeBuildResult&,
                                   const std::shared_ptr<edb::CancelToken>& token) {
    m_session.finishTask(edb::session::Task::TreeBuild, token);
    --m_deliveriesPending;
    applyCommands();
    markConvertedItems();
}

void MainDialog::tickToggled(edb::TreeItem handle) {
    showTicks(m_session.toggleTick(handle));
}

void MainDialog::showTicks(const std::vector<edb::TreeItem>& changed) {
    for (const edb::TreeItem handle : changed) {
        if (QTreeWidgetItem* item = m_folderTree->itemFor(handle)) {
            FolderTreeView::showTick(item, m_session.tree().ticked(handle),
                                     m_session.tree().marked(handle));
        }
    }
}

void MainDialog::fitDateColumn() {
    const int needed = m_messageList->fontMetrics().horizontalAdvance(
                           QString::fromLatin1(edb::views::kWidestDateText)) +
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
    if (!m_session.allowed(edb::session::Command::ListFolder) ||
        item == m_state.shownFolderItem.load()) {
        return; // already listed
    }
    startListing(item, m_folderTree->folderOf(item));
}

void MainDialog::startListing(edb::TreeItem item, std::size_t folder) {
    // A newer listing makes every earlier one stale: it is cancelled, and rows of it already on
    // their way are dropped by the generation, never mixed in.
    const std::uint64_t generation = ++m_listGeneration;
    m_state.shownFolderItem = item;
    m_messageList->setRowCount(0);
    ++m_deliveriesPending;
    auto token = std::make_shared<edb::CancelToken>();
    m_session.startTask(edb::session::Task::Listing, token); // the last listing is superseded
    m_workers.start(token, [this, folder, generation, token] {
        runListing(folder, generation, *token);
        QMetaObject::invokeMethod(
            this,
            [this, token] {
                m_session.finishTask(edb::session::Task::Listing, token);
                --m_deliveriesPending;
            },
            Qt::QueuedConnection);
    });
}

void MainDialog::runListing(std::size_t folderIndex, std::uint64_t generation,
                            const edb::CancelToken& cancel) {
    const edb::FolderNode* folder = edb::FolderAt(m_catalog, folderIndex);
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
    auto columns =
        std::make_shared<const std::vector<edb::views::ListColumn>>(edb::views::ListColumnsFor(*folder));
    post([this, columns] {
        m_messageList->setColumns(*columns);
        fitDateColumn();
    });
    auto batch = std::make_shared<std::vector<ReportRow>>();
    const auto flush = [&] {
        post([this, rows = std::move(batch)] { m_messageList->appendRows(*rows); });
        batch = std::make_shared<std::vector<ReportRow>>();
    };
    edb::views::ForEachMessageRow(m_catalog, *folder, [&](edb::views::ListRow&& row) {
        if (cancel.cancelled()) {
            return false;
        }
        ReportRow r;
        for (const std::string& c : row.cells) {
            r.cells << QString::fromStdString(c);
        }
        r.number = row.number;
        r.keys = edb::views::SortKeys(row, *columns);
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
