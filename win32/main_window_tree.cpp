// Mailboxes and folders: picking a mailbox, Next and the user-mailbox steps that build its
// folder tree on a worker, ticks, and the message listing of a picked folder.
#include "win32/main_window.h"

#include "views/folder_items.h"
#include "views/message_list.h"
#include "views/texts.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"
#include "win32/window_texts.h"

#include <chrono>
#include <functional>

namespace edbwin {

namespace {

// Collects a tree build's items and hands them over in batches. The build numbers its own
// items from a range the window gave it, so it names parents without asking the window.
class BatchingTreeSink : public edb::TreeSink {
public:
    using Deliver = std::function<void(std::vector<TreeBatchItem>&&)>;
    BatchingTreeSink(edb::TreeItem firstHandle, Deliver deliver)
        : m_next(firstHandle), m_deliver(std::move(deliver)) {}

    edb::TreeItem insertItem(edb::TreeItem parent, const std::string& text, char kind,
                             const std::string&, std::size_t folder) override {
        const edb::TreeItem handle = m_next++;
        const int image =
            edb::views::FolderImageIndex(edb::views::TreeItemIcon(text, kind, folder));
        m_batch.push_back(TreeBatchItem{handle, parent, text, image, folder});
        // Full batches, and a few a second, so a long build shows as it goes.
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

constexpr std::size_t kRowBatch = 512;

void SetBold(HWND tree, HTREEITEM item, bool on) {
    TreeView_SetItemState(tree, item, on ? TVIS_BOLD : 0, TVIS_BOLD);
}

} // namespace

void MainWindow::mailboxSelectionChanged() {
    // A pick, by mouse or keys, only picks: Next adds the highlighted mailbox.
    const int row = ListView_GetNextItem(item(IDC_MAILBOX_LIST), -1, LVNI_SELECTED);
    m_session.pickMailbox(row >= 0 ? std::optional<std::size_t>(static_cast<std::size_t>(row))
                                   : std::nullopt);
    applyCommands();
}

void MainWindow::next() {
    if (!m_session.allowed(edb::session::Command::Next)) {
        return;
    }
    // Next adds the mailbox the user sees highlighted, however it was reached.
    if (const int row = ListView_GetNextItem(item(IDC_MAILBOX_LIST), -1, LVNI_SELECTED);
        row >= 0) {
        m_session.pickMailbox(static_cast<std::size_t>(row));
    }
    switch (m_session.next()) {
    case edb::session::NextOutcome::NothingChosen:
        m_prompts.showError(hwnd(), edb::views::kSelectMailboxText);
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

void MainWindow::nextUserMailbox() {
    if (m_session.nextUserMailbox()) {
        startTreeWorker();
    }
    applyCommands();
}

void MainWindow::backUserMailbox() {
    if (!m_session.backUserMailbox()) {
        return;
    }
    TreeView_DeleteAllItems(item(IDC_FOLDER_TREE));
    m_items.clear();
    m_folders.clear();
    m_handles.clear();
    m_session.clearTree(); // the rebuilt tree starts unticked
    ++m_treeGeneration; // whatever an earlier build still has on its way is dropped
    ++m_listGeneration;
    m_rows.clear();
    ListView_SetItemCount(item(IDC_MESSAGE_LIST), 0);
    m_shownFolderItem = nullptr;
    startTreeWorker();
    applyCommands();
}

void MainWindow::startTreeWorker() {
    ++m_pending;
    const std::optional<std::size_t> row = m_session.mailboxAtStep(m_session.step());
    const edb::FolderNode* mailbox = row ? edb::MailboxAt(m_catalog, *row) : nullptr;
    const edb::TreeItem firstHandle = m_nextBuildHandles;
    m_nextBuildHandles += edb::kMaxTreeItems + 1; // room for the largest build
    const std::uint64_t generation = m_treeGeneration;
    auto token = std::make_shared<edb::CancelToken>();
    m_session.startTask(edb::session::Task::TreeBuild, token, false);
    m_workers.start(token, [this, mailbox, firstHandle, generation, token] {
        BatchingTreeSink sink(firstHandle, [this, generation](std::vector<TreeBatchItem>&& b) {
            m_inbox.post([this, generation, batch = std::move(b)] {
                showTreeBatch(generation, batch);
            });
        });
        if (mailbox != nullptr) {
            (void)edb::BuildFolderTree(m_catalog, *mailbox, sink, token.get());
        }
        sink.flush();
        m_inbox.post([this, token] { treeBuildFinished(token); });
    });
}

void MainWindow::showTreeBatch(std::uint64_t generation, const std::vector<TreeBatchItem>& batch) {
    if (generation != m_treeGeneration) {
        return; // the view was emptied after this build started
    }
    const HWND tree = item(IDC_FOLDER_TREE);
    for (const TreeBatchItem& i : batch) {
        HTREEITEM parent = TVI_ROOT;
        if (i.parent != 0) {
            const auto at = m_items.find(i.parent);
            if (at == m_items.end()) {
                continue; // its parent was not shown: neither is it
            }
            parent = at->second;
        }
        std::wstring text = Wide(i.text);
        TVINSERTSTRUCTW insert{};
        insert.hParent = parent;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE;
        insert.item.pszText = text.data();
        insert.item.iImage = i.image;
        insert.item.iSelectedImage = i.image;
        insert.item.stateMask = TVIS_STATEIMAGEMASK;
        insert.item.state = INDEXTOSTATEIMAGEMASK(1);
        const HTREEITEM made = TreeView_InsertItem(tree, &insert);
        if (made != nullptr) {
            m_items.emplace(i.handle, made);
            m_folders.emplace(made, i.folder);
            m_handles.emplace(made, i.handle);
            (void)m_session.addTreeItem(i.handle, i.parent, i.folder);
        }
    }
}

void MainWindow::treeBuildFinished(const std::shared_ptr<edb::CancelToken>& token) {
    m_session.finishTask(edb::session::Task::TreeBuild, token);
    --m_pending;
    applyCommands();
}

void MainWindow::tickToggled(HTREEITEM changed) {
    const auto at = m_handles.find(changed);
    if (changed == nullptr || at == m_handles.end()) {
        return;
    }
    // The tree view has already flipped the box it drew; the session's tick rules say what
    // the click changed (nothing while Convert runs), and the boxes show that, the clicked
    // one included.
    std::vector<edb::TreeItem> redraw = m_session.toggleTick(at->second);
    redraw.push_back(at->second);
    showTicks(redraw);
}

void MainWindow::showTicks(const std::vector<edb::TreeItem>& changed) {
    const HWND tree = item(IDC_FOLDER_TREE);
    for (const edb::TreeItem handle : changed) {
        if (const auto at = m_items.find(handle); at != m_items.end()) {
            TreeView_SetCheckState(tree, at->second, m_session.tree().ticked(handle));
            SetBold(tree, at->second, m_session.tree().marked(handle));
        }
    }
}

void MainWindow::folderSelected(HTREEITEM item) {
    if (item == nullptr || !m_session.allowed(edb::session::Command::ListFolder) ||
        item == m_shownFolderItem) {
        return; // already listed
    }
    startListing(item, folderOf(item));
}

void MainWindow::showColumns(const std::vector<std::pair<std::string, int>>& columns) {
    const HWND list = item(IDC_MESSAGE_LIST);
    const HWND header = ListView_GetHeader(list);
    for (int n = Header_GetItemCount(header); n > 0; --n) {
        ListView_DeleteColumn(list, n - 1);
    }
    int index = 0;
    for (const auto& [heading, width] : columns) {
        std::wstring text = Wide(heading);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        // The widest date there is ("Wed 28/12/2024 12:59:59 PM") fits its column.
        const UINT dpi = GetDpiForWindow(list);
        const int scaled = dpi == 0 ? width : MulDiv(width, static_cast<int>(dpi), 96);
        column.cx = heading == "Date" ? std::max(scaled, ListView_GetStringWidth(
                                                             list, L"Wed 28/12/2024 12:59:59 PM") +
                                                             16)
                                      : scaled;
        column.pszText = text.data();
        ListView_InsertColumn(list, index++, &column);
    }
}

void MainWindow::startListing(HTREEITEM treeItem, std::size_t folder) {
    // A newer listing makes every earlier one stale: it is cancelled, and rows of it already
    // on their way are dropped by the generation, never mixed in.
    const std::uint64_t generation = ++m_listGeneration;
    m_shownFolderItem = treeItem;
    m_rows.clear();
    ListView_SetItemCount(item(IDC_MESSAGE_LIST), 0);
    ++m_pending;
    auto token = std::make_shared<edb::CancelToken>();
    m_session.startTask(edb::session::Task::Listing, token); // the last listing is superseded
    m_workers.start(token, [this, folder, generation, token] {
        const auto post = [this, generation](std::function<void()> fn) {
            m_inbox.post([this, generation, fn = std::move(fn)] {
                if (generation == m_listGeneration) {
                    fn();
                }
            });
        };
        if (const edb::FolderNode* node = edb::FolderAt(m_catalog, folder)) {
            std::vector<std::pair<std::string, int>> columns;
            for (const edb::views::ListColumn& c : edb::views::ListColumnsFor(*node)) {
                columns.emplace_back(c.heading, c.width);
            }
            post([this, columns] { showColumns(columns); });
            std::vector<edb::views::ListRow> batch;
            const auto flush = [&] {
                post([this, rows = std::move(batch)]() mutable {
                    for (edb::views::ListRow& r : rows) {
                        m_rows.push_back(std::move(r));
                    }
                    ListView_SetItemCountEx(item(IDC_MESSAGE_LIST), static_cast<int>(m_rows.size()),
                                            LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
                });
                batch.clear();
            };
            edb::views::ForEachMessageRow(m_catalog, *node, [&](edb::views::ListRow&& row) {
                if (token->cancelled()) {
                    return false;
                }
                batch.push_back(std::move(row));
                if (batch.size() >= kRowBatch) {
                    flush();
                }
                return true;
            });
            if (!batch.empty() && !token->cancelled()) {
                flush();
            }
        }
        m_inbox.post([this, token] {
            m_session.finishTask(edb::session::Task::Listing, token);
            --m_pending;
        });
    });
}

void MainWindow::messageDisplayInfo(NMLVDISPINFOW& info) {
    LVITEMW& cell = info.item;
    if ((cell.mask & LVIF_TEXT) == 0 || cell.pszText == nullptr || cell.cchTextMax <= 0) {
        return;
    }
    cell.pszText[0] = L'\0';
    if (cell.iItem < 0 || static_cast<std::size_t>(cell.iItem) >= m_rows.size()) {
        return;
    }
    const edb::views::ListRow& row = m_rows[static_cast<std::size_t>(cell.iItem)];
    if (cell.iSubItem < 0 || static_cast<std::size_t>(cell.iSubItem) >= row.cells.size()) {
        return;
    }
    m_cellText = Wide(row.cells[static_cast<std::size_t>(cell.iSubItem)]);
    lstrcpynW(cell.pszText, m_cellText.c_str(), cell.cchTextMax);
}

void MainWindow::messageActivated() {
    const int row = ListView_GetNextItem(item(IDC_MESSAGE_LIST), -1, LVNI_SELECTED);
    if (row >= 0 && static_cast<std::size_t>(row) < m_rows.size()) {
        viewMessage(m_rows[static_cast<std::size_t>(row)].entry);
    }
}

} // namespace edbwin
