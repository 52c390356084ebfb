#pragma once
// The main dialog of exchange-to-eml.exe. It creates the controls from the template, fills them
// from the session and the scan's catalog, and forwards what the user did: the session says
// what is allowed, workers do the work and hand their results over through the inbox, in
// batches marked with the generation they belong to. No worker touches a control.
#include "catalog/catalog.h"
#include "views/controls.h"
#include "views/message_list.h"
#include "catalog/tree_build.h"
#include "scan/scan.h"
#include "session/session.h"
#include "session/worker_threads.h"
#include "win32/dialog.h"
#include "win32/prompts.h"
#include "win32/window_messages.h"

#include <commctrl.h>
#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace edbwin {

class FindDialog;
class ProgressDialog;
class ViewerDialog;

// One folder item of a tree build on its way to the window.
struct TreeBatchItem {
    edb::TreeItem handle = 0;
    edb::TreeItem parent = 0; // 0: a root
    std::string text;
    int image = 0;
    std::size_t folder = edb::kNoFolder;
};

class MainWindow : public Dialog {
public:
    MainWindow(edb::StoreCatalog& catalog, Prompts& prompts);
    ~MainWindow() override;

    // Makes the (modeless) main dialog; false when it could not be made.
    bool create();
    // Opens a store as Browse does after its chooser; false when Open is not allowed now.
    bool openStore(const std::string& path);

    [[nodiscard]] edb::session::Session& session() { return m_session; }
    [[nodiscard]] edb::StoreCatalog& catalog() { return m_catalog; }
    [[nodiscard]] const std::string& startupDirectory() const { return m_startupDirectory; }
    [[nodiscard]] bool scanRunning() const { return m_scanRunning; }
    // Work started and not yet shown: running workers, and results still in the inbox.
    [[nodiscard]] int pendingWork() const { return m_pending; }
    // The message list's rows, as the virtual list view shows them.
    [[nodiscard]] const std::vector<edb::views::ListRow>& messageRows() const { return m_rows; }
    // The folder-list index a tree item shows (kNoFolder for a mailbox root).
    [[nodiscard]] std::size_t folderOf(HTREEITEM item) const;
    [[nodiscard]] FindDialog* findDialog() const { return m_find.get(); }
    [[nodiscard]] const std::list<std::unique_ptr<ViewerDialog>>& viewers() const {
        return m_viewers;
    }
    [[nodiscard]] ProgressDialog* convertProgress() const { return m_progress.get(); }
    // Ends the run: every task cancelled and joined, the dialog destroyed, the loop told to end.
    void endRun(int status = 0);
    void viewMessage(const edb::MessageEntry* message);

protected:
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // main_window.cpp: set-up, commands, the end of the run.
    void initialise();
    void createStatusBar();
    void showStatus(const std::string& text);
    void paintBackground(HDC dc);
    void setUpLists();
    void command(int id, int code);
    INT_PTR notify(const NMHDR& header);
    void enterPressed();
    // Enter or a double click on `list`: what views/ says its current row is for.
    void activate(edb::views::ListKind list);
    void dropFiles(HDROP drop);
    void closeRequested();
    void exitCommand();
    // main_window_windows.cpp: Help and About (and the viewer, Find).
    void help();
    void about();
    void splitterMoved(int delta);
    void applyCommands();
    void shutdownWorkers();

    // main_window_scan.cpp: Browse, the scan and its end, Stop.
    void browse();
    void beginStore(const std::string& path);
    void startScan();
    void showProgress(int position);
    void mailboxRowsReady(const std::vector<std::string>& names);
    void scanFinished(const edb::ScanResult& result);
    void stop();

    // main_window_tree.cpp: picking a mailbox, Next, the tree builds, ticks, listings.
    void mailboxSelectionChanged();
    void next();
    void nextUserMailbox();
    void backUserMailbox();
    void startTreeWorker();
    void showTreeBatch(std::uint64_t generation, const std::vector<TreeBatchItem>& batch);
    void treeBuildFinished(const std::shared_ptr<edb::CancelToken>& token);
    void folderSelected(HTREEITEM item);
    void tickToggled(HTREEITEM item);
    // Shows the session's ticks and bold marks on `changed` items.
    void showTicks(const std::vector<edb::TreeItem>& changed);
    void startListing(HTREEITEM item, std::size_t folder);
    void showColumns(const std::vector<std::pair<std::string, int>>& columns);
    void messageDisplayInfo(NMLVDISPINFOW& info);
    void messageActivated();

    // main_window_convert.cpp: Convert and its end.
    void convert();
    void convertFinished(const std::string& summary, const std::vector<std::size_t>& saved,
                         const std::string& destination);
    void openFind();

    edb::StoreCatalog& m_catalog;
    Prompts& m_prompts;
    edb::session::Session m_session; // window thread only
    std::string m_startupDirectory;
    std::string m_sourcePath;
    HWND m_status = nullptr;
    HIMAGELIST m_folderImages = nullptr;
    HBITMAP m_background = nullptr;

    Inbox m_inbox;
    edb::session::WorkerThreads m_workers;
    int m_pending = 0; // window thread
    std::shared_ptr<edb::CancelToken> m_scanToken;
    bool m_scanRunning = false;
    std::shared_ptr<std::atomic<int>> m_latestProgress =
        std::make_shared<std::atomic<int>>(-1);

    // The folder tree: items by the handles the builds gave them, folder index by item.
    std::uint64_t m_treeGeneration = 0;
    edb::TreeItem m_nextBuildHandles = edb::TreeItem{1} << 32;
    std::unordered_map<edb::TreeItem, HTREEITEM> m_items;
    std::unordered_map<HTREEITEM, std::size_t> m_folders;
    std::unordered_map<HTREEITEM, edb::TreeItem> m_handles;

    // The message list.
    std::uint64_t m_listGeneration = 0;
    HTREEITEM m_shownFolderItem = nullptr;
    std::vector<edb::views::ListRow> m_rows;
    std::wstring m_cellText; // what the list view copies a cell from

    std::unique_ptr<FindDialog> m_find;
    std::list<std::unique_ptr<ViewerDialog>> m_viewers;
    std::unique_ptr<ProgressDialog> m_progress;
    std::shared_ptr<edb::CancelToken> m_convertToken;
    int m_exitStatus = 0;
};

} // namespace edbwin
