#pragma once
// The main dialog: the program's only top-level window. It keeps the run's session, asks it
// what each command may do, starts the tasks (scan, tree builds, listings, Convert; Find in its
// own window) and carries out the commands. Workers never touch a control: they post batches
// or go through the window gate.
#include "app/window_gate.h"
#include "app/window_texts.h"
#include "session/worker_threads.h"
#include "catalog/catalog.h"
#include "scan/scan.h"
#include "catalog/tree_build.h"
#include "session/session.h"
#include "views/folder_items.h"
#ifdef EDB_HAVE_EXPORT
#include "convert/convert.h"
#endif

#include <QDialog>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QProgressBar;
class QProgressDialog;
class QPushButton;
class QScrollArea;
class QStatusBar;

namespace edb {
class CLayoutResizer;
class CSplitterBar;
} // namespace edb

namespace edbapp {

class FindWindow;
class FolderTreeView;
class ReportListView;


// Control ids of the dialog's controls.
enum ControlId : int {
    IdOk = 1,
    IdCancel = 2,
    IdPathEdit = 1000,
    IdBrowse = 1001,
    IdNextUserMailbox = 1002,
    IdMailboxList = 1003,
    IdFolderTree = 1004,
    IdPathFrame = 1007,
    IdProgress = 1009,
    IdStop = 1010,
    IdProgressFrame = 1014,
    IdConvert = 1015,
    IdBackUserMailbox = 1016,
    IdMessageList = 1024,
    IdNext = 1025,
    IdSplitter = 1026,
};

// One folder item of a tree build, on its way to the window.
struct TreeBatchItem {
    edb::TreeItem handle = 0;
    edb::TreeItem parent = 0; // 0: a root
    QString text;
    edb::views::FolderIcon icon = edb::views::FolderIcon::Folder;
    std::size_t folder = edb::kNoFolder; // the folder-list entry shown
};

// What the window itself keeps beside the session: the path shown and the folder listed.
struct WindowState {
    std::string sourcePath;
    std::atomic<edb::TreeItem> shownFolderItem{0};
};

class MainDialog : public QDialog {
    Q_OBJECT
public:
    explicit MainDialog(edb::StoreCatalog& catalog, QWidget* parent = nullptr);
    ~MainDialog() override;

    // The startup directory: the current directory when the dialog was made.
    [[nodiscard]] QString startupDirectory() const { return m_startupDirectory; }

    // For tests and the screenshot tool.
    [[nodiscard]] WindowState& state() { return m_state; }
    // The run's phase, choices and tasks; the window asks it what is allowed.
    [[nodiscard]] edb::session::Session& session() { return m_session; }
    [[nodiscard]] edb::StoreCatalog& catalog() { return m_catalog; }
    [[nodiscard]] QLineEdit* pathEdit() const { return m_pathEdit; }
    [[nodiscard]] QPushButton* browseButton() const { return m_browse; }
    [[nodiscard]] QPushButton* stopButton() const { return m_stop; }
    [[nodiscard]] QPushButton* convertButton() const { return m_convert; }
    [[nodiscard]] QPushButton* nextButton() const { return m_next; }
    [[nodiscard]] QPushButton* nextUserMailboxButton() const { return m_nextUser; }
    [[nodiscard]] QPushButton* backUserMailboxButton() const { return m_backUser; }
    [[nodiscard]] QProgressBar* progressBar() const { return m_progress; }
    [[nodiscard]] QGroupBox* progressFrame() const { return m_progressFrame; }
    [[nodiscard]] ReportListView* mailboxList() const { return m_mailboxList; }
    [[nodiscard]] FolderTreeView* folderTree() const { return m_folderTree; }
    [[nodiscard]] ReportListView* messageList() const { return m_messageList; }
    [[nodiscard]] QAction* openAction() const { return m_openAction; }
    [[nodiscard]] QAction* saveAction() const { return m_saveAction; }
    [[nodiscard]] QAction* exitAction() const { return m_exitAction; }
    [[nodiscard]] QAction* contentAction() const { return m_contentAction; }
    [[nodiscard]] QAction* aboutAction() const { return m_aboutAction; }
    [[nodiscard]] QAction* findAction() const { return m_findAction; }
    [[nodiscard]] FindWindow* findWindow() const { return m_findWindow; }
    [[nodiscard]] QStatusBar* statusBarWidget() const { return m_statusBar; }
    [[nodiscard]] QWidget* surface() const { return m_surface; }
    [[nodiscard]] edb::CSplitterBar* splitter() const { return m_splitter; }
    [[nodiscard]] bool scanRunning() const { return m_scanRunning.load(); }
    [[nodiscard]] bool treeWorkerRunning() const {
        return m_session.running(edb::session::Task::TreeBuild);
    }
    [[nodiscard]] bool converting() const { return m_session.running(edb::session::Task::Convert); }
    // Worker threads still running, plus tree builds and listings whose results have not all
    // been shown yet (their thread may already have ended).
    [[nodiscard]] std::size_t workersRunning() const {
        return m_workers.running() + static_cast<std::size_t>(m_deliveriesPending);
    }
    [[nodiscard]] const edb::ScanResult& lastScanResult() const { return m_scanResult; }
    // Holds the scan at its first page boundary after the mailbox rows appear, as if the user
    // had pressed Stop there; Stop answered No lets it go on. For tests and demonstrations of
    // the window while the scan still runs.
    void setPauseScanAfterRows(bool on) { m_pauseAfterRows = on; }

    // Opens a store as Browse does after its chooser, while Browse is still allowed (the run's
    // one Browse); false when it is not. For a path given on the command line or dropped.
    bool openStore(const QString& path);
    [[nodiscard]] bool browseAllowed() const;
    // openStore once the event loop runs, so the scan starts with the window on screen.
    void openStoreWhenShown(const QString& path);

public slots:
    void browse();
    void stop();
    void mailboxClicked();
    void next();
    void nextUserMailbox();
    void backUserMailbox();
    void convert();
    // Convert for one folder, ticked or not ("Convert This Folder...").
    void convertFolder(edb::TreeItem item);
    // Edit > Find: the Find window, made on first use and shown again later.
    void openFind();
    // The message viewer for one message; "Save as EML..." for one message.
    void viewMessage(const edb::MessageEntry* message);
    void saveMessageAsEml(const edb::MessageEntry* message);
    void exitCommand();
    void help();
    void about();

    // The one way the run ends: every task cancelled, workers released and joined, then the
    // dialog returns.
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void buildStatusBar();
    void keepWindowSize();
    // Where the window goes and its size (without frame) for an outer size.
    [[nodiscard]] QRect placeOnScreen(QSize outer) const;
    void splitterMoved(int delta);
    void folderPicked(edb::TreeItem item);
    // The enabled state of Browse and File > Open, as the session allows them.
    void applyCommands();
    // A check box toggled: the session applies the tick rules, the view shows what changed.
    void tickToggled(edb::TreeItem item);
    void showTicks(const std::vector<edb::TreeItem>& changed);
    // Marks every tree item of a converted folder (after Convert and after a rebuild).
    void markConvertedItems();
    void setKeyboardOrder();
    void beginStore(const QString& path);
    void startScan();
    void scanFinished(const edb::ScanResult& result);
    void startTreeWorker();
    void runTreeWorker(const edb::FolderNode* mailbox, edb::TreeItem firstHandle,
                       std::uint64_t generation, const std::shared_ptr<edb::CancelToken>& cancel);
    void showTreeBatch(std::uint64_t generation, const std::vector<TreeBatchItem>& batch);
    void treeBuildFinished(const edb::TreeBuildResult& r,
                           const std::shared_ptr<edb::CancelToken>& token);
    void startListing(edb::TreeItem item, std::size_t folder);
    void fitDateColumn();
    void runListing(std::size_t folder, std::uint64_t generation, const edb::CancelToken& cancel);
    void shutdownWorkers();
    void showMessageMenu(int row, const QPoint& global);
    void showFolderMenu(edb::TreeItem item, const QPoint& global);
#ifdef EDB_HAVE_EXPORT
    void convertFolders(std::vector<edb::conv::FolderPath> folders);
    // Folders already converted to `destination` are named and written again only on Yes;
    // on No they are dropped. False when nothing is left to write.
    bool askBeforeWritingAgain(std::vector<edb::conv::FolderPath>& folders,
                               const std::string& destination);
#endif
    // Shows the summary; with an output folder, offers to open it.
    // `saved`: the folders written completely, by folder index, to `destination`.
    void convertFinished(const QString& summary, const std::vector<std::size_t>& saved,
                         const std::string& destination, const QString& outDir = {});

    edb::StoreCatalog& m_catalog;
    WindowState m_state;
    edb::session::Session m_session; // window thread only
    QString m_chosenPath;
    QString m_startupDirectory;

    QMenuBar* m_menuBar = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_surface = nullptr;
    QStatusBar* m_statusBar = nullptr;
    QLabel* m_titlePane = nullptr;
    QLabel* m_webPane = nullptr;
    QLineEdit* m_pathEdit = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_convert = nullptr;
    QPushButton* m_next = nullptr;
    QPushButton* m_nextUser = nullptr;
    QPushButton* m_backUser = nullptr;
    QProgressBar* m_progress = nullptr;
    QGroupBox* m_progressFrame = nullptr;
    QWidget* m_pathFrame = nullptr;
    edb::CSplitterBar* m_splitter = nullptr;
    std::unique_ptr<edb::CLayoutResizer> m_resizer;
    ReportListView* m_mailboxList = nullptr;
    FolderTreeView* m_folderTree = nullptr;
    ReportListView* m_messageList = nullptr;
    QAction* m_openAction = nullptr;
    QAction* m_saveAction = nullptr;
    QAction* m_exitAction = nullptr;
    QAction* m_contentAction = nullptr;
    QAction* m_aboutAction = nullptr;
    QAction* m_findAction = nullptr;
    FindWindow* m_findWindow = nullptr;
    QSize m_referenceSize;
    bool m_keepingSize = false;

    WindowGate m_gate;
    edb::session::WorkerThreads m_workers;
    std::shared_ptr<edb::CancelToken> m_scanToken; // window thread; the current scan's
    std::atomic<bool> m_scanRunning{false};
    std::atomic<bool> m_pauseAfterRows{false};
    edb::ScanResult m_scanResult;
    std::uint64_t m_treeGeneration = 0; // window thread; raised when the tree view is emptied
    // Window thread: each build numbers its items from here on (FolderTreeView::kBuildHandles
    // up), so a worker needs nothing of the view to name them.
    edb::TreeItem m_nextBuildHandles = edb::TreeItem{1} << 32;
    int m_deliveriesPending = 0; // window thread
    std::atomic<std::uint64_t> m_listGeneration{0};
    QProgressDialog* m_convertProgress = nullptr;
    std::shared_ptr<edb::CancelToken> m_convertToken; // window thread; the running Convert's
};

} // namespace edbapp
