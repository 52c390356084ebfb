#include "app/main_dialog.h"

#include "app/about_dialog.h"
#include "app/dialog_units.h"
#include "app/folder_tree_view.h"
#include "app/help.h"
#include "app/report_list_view.h"
#include "platform/platform.h"
#include "resources/artwork.h"
#include "views/controls.h"
#include "views/message_list.h"
#include "widgets/control_id.h"
#include "widgets/framed_group_box.h"
#include "widgets/layout_resizer.h"
#include "widgets/skinned_dialog.h"
#include "widgets/splitter_bar.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace edbapp {

namespace {
// The dialog template: 476 × 401 dialog units.
constexpr int kTemplateWidth = 476;
constexpr int kTemplateHeight = 401;
// Where the window is put and how large, and the client size above which it is put back.
constexpr QPoint kWindowPosition(450, 410);
constexpr QSize kWindowOuterSize(718, 704);
constexpr int kLargestClientWidth = 477;
constexpr int kLargestClientHeight = 462;
constexpr int kStatusPaneRest = 300;

// The client area: the main background under the controls, scrolled when the window shrinks.
class SkinnedSurface : public QWidget {
public:
    SkinnedSurface() : m_background(QString::fromLatin1(edb::kMainBackground)) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        edb::paintDialogBackground(painter, m_background);
    }

private:
    QPixmap m_background;
};

QPushButton* makeButton(QWidget* parent, int id, const QString& text, const QRect& du) {
    auto* b = new QPushButton(text, parent);
    b->setGeometry(du);
    b->setAutoDefault(false); // Enter ends the dialog, it never presses a button
    edb::setControlId(b, id);
    return b;
}
} // namespace

MainDialog::MainDialog(edb::StoreCatalog& catalog, QWidget* parent)
    : QDialog(parent), m_catalog(catalog), m_gate(this) {
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    edb::initArtwork();
    setWindowIcon(edb::windowIcon());
    setSizeGripEnabled(false);

    buildMenus();
    buildControls();
    buildStatusBar();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetNoConstraint); // a smaller window scrolls instead
    layout->setMenuBar(m_menuBar);
    layout->addWidget(m_scroll, 1);
    layout->addWidget(m_statusBar);

    m_startupDirectory = QDir::currentPath().left(260);
    setAcceptDrops(true); // an .edb file dropped on the window opens as Browse would

    // The window's size is fixed by the rule in keepWindowSize; a smaller one scrolls.
    m_referenceSize = kWindowOuterSize;
    const QRect place = placeOnScreen(kWindowOuterSize);
    move(place.topLeft());
    resize(place.size());
    setKeyboardOrder();
    applyCommands();
}

MainDialog::~MainDialog() {
    shutdownWorkers();
}

void MainDialog::shutdownWorkers() {
    // Release workers waiting on the window, then stop every worker at its next checkpoint.
    m_gate.close();
    m_session.cancelAll(edb::StopReason::Shutdown);
    m_workers.cancelAll(edb::StopReason::Shutdown);
    m_workers.joinAll();
}

void MainDialog::done(int result) {
    // Every end of the run comes here (Close, Exit, Enter, Esc, accept and reject alike), so
    // each ends its work the same way before the dialog returns.
    shutdownWorkers();
    QDialog::done(result);
}

void MainDialog::setKeyboardOrder() {
    // Tab leaves a list instead of walking its cells, and visits the controls in the order the
    // work goes: the store, its mailboxes, their folders, the messages, Convert.
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(m_mailboxList),
                                    static_cast<QAbstractItemView*>(m_messageList)}) {
        view->setTabKeyNavigation(false);
    }
    const QList<QWidget*> order{m_pathEdit, m_browse,      m_stop,        m_mailboxList,
                                m_next,     m_backUser,    m_nextUser,    m_folderTree,
                                m_messageList, m_convert};
    for (qsizetype i = 0; i + 1 < order.size(); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }
}

void MainDialog::buildMenus() {
    m_menuBar = new QMenuBar(this);
    // Alt+F, Alt+E and Alt+H open the menus.
    QMenu* file = m_menuBar->addMenu(QStringLiteral("&File"));
    m_openAction = file->addAction(QStringLiteral("Open Edb File"), this, &MainDialog::browse);
    m_saveAction = file->addAction(QStringLiteral("Save "), this, &MainDialog::nextUserMailbox);
    m_exitAction = file->addAction(QStringLiteral("Exit"), this, &MainDialog::exitCommand);
    QMenu* edit = m_menuBar->addMenu(QStringLiteral("&Edit"));
    m_findAction = edit->addAction(QStringLiteral("Find..."), this, &MainDialog::openFind);
    m_findAction->setShortcut(QKeySequence::Find);
    QMenu* helpMenu = m_menuBar->addMenu(QStringLiteral("&Help"));
    m_contentAction = helpMenu->addAction(QStringLiteral("Content"), this, &MainDialog::help);
    m_aboutAction = helpMenu->addAction(QStringLiteral("About"), this, &MainDialog::about);
}

void MainDialog::buildControls() {
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_surface = new SkinnedSurface;
    m_surface->setObjectName(QStringLiteral("surface"));
    m_surface->setMinimumSize(duToPixelsX(kTemplateWidth), duToPixelsY(kTemplateHeight));
    m_scroll->setWidget(m_surface);
    QWidget* s = m_surface;

    auto* pathFrame =
        new edb::CFramedGroupBox(QStringLiteral("Select Exchange Mailbox (.EDB) File"), s);
    pathFrame->setGeometry(duRect(18, 54, 434, 36));
    edb::setControlId(pathFrame, IdPathFrame);
    m_pathFrame = pathFrame;

    m_pathEdit = new QLineEdit(s);
    m_pathEdit->setGeometry(duRect(34, 64, 344, 19));
    edb::setControlId(m_pathEdit, IdPathEdit);
    m_pathEdit->setAcceptDrops(false); // a dropped store goes to the window, not into the text
    m_browse = makeButton(s, IdBrowse, QStringLiteral("Browse..."), duRect(386, 66, 50, 14));

    m_mailboxList = new ReportListView(s);
    m_mailboxList->setGeometry(duRect(20, 102, 431, 92));
    m_mailboxList->setColumns(edb::views::MailboxListColumns());
    edb::setControlId(m_mailboxList, IdMailboxList);

    m_folderTree = new FolderTreeView(s);
    m_folderTree->setGeometry(duRect(20, 201, 123, 140));
    edb::setControlId(m_folderTree, IdFolderTree);

    std::vector<QIcon> images;
    for (const char* path : edb::kFolderIcons) {
        images.emplace_back(QString::fromLatin1(path));
    }
    m_folderTree->setImages(std::move(images));

    m_messageList = new ReportListView(s);
    m_messageList->setGeometry(duRect(144, 200, 308, 140));
    m_messageList->setColumns(edb::views::InitialMessageColumns());
    edb::setControlId(m_messageList, IdMessageList);
    fitDateColumn();

    m_progressFrame = new QGroupBox(s);
    m_progressFrame->setGeometry(duRect(21, 345, 431, 23));
    edb::setControlId(m_progressFrame, IdProgressFrame);
    m_progress = new QProgressBar(s);
    m_progress->setGeometry(duRect(33, 354, 406, 8));
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    edb::setControlId(m_progress, IdProgress);

    m_stop = makeButton(s, IdStop, QStringLiteral("Stop"), duRect(98, 375, 78, 14));
    m_convert = makeButton(s, IdConvert, QStringLiteral("Convert"), duRect(189, 374, 78, 14));
    m_next = makeButton(s, IdNext, QStringLiteral("Next"), duRect(277, 374, 78, 14));
    m_nextUser = makeButton(s, IdNextUserMailbox, QStringLiteral("Next User Mailbox"),
                            duRect(364, 375, 78, 14));
    m_backUser = makeButton(s, IdBackUserMailbox, QStringLiteral("Back User Mailbox"),
                            duRect(0, 372, 78, 14));
    // Stepping through chosen mailboxes is never offered; the commands stay reachable.
    m_nextUser->hide();
    m_backUser->hide();

    m_progressFrame->hide();
    m_progress->hide();

    // The splitter bar takes the place of its placeholder's rectangle.
    m_splitter = new edb::CSplitterBar(s);
    m_splitter->Create(duRect(141, 201, 3, 140), s, IdSplitter);
    m_splitter->SetRange(50, 500);
    connect(m_splitter, &edb::CSplitterBar::SplitterMoved, this, &MainDialog::splitterMoved);

    // The resizer takes the surface's first size as its minimum.
    m_surface->resize(m_surface->minimumSize());
    m_resizer = std::make_unique<edb::CLayoutResizer>();
    m_resizer->Attach(m_surface);
    using R = edb::CLayoutResizer;
    const int moveStretch = R::RESIZE_STRETCH_X | R::RESIZE_MOVE_Y;
    for (const auto& [control, flags] :
         std::initializer_list<std::pair<QWidget*, int>>{{m_mailboxList, moveStretch},
                                                         {m_pathEdit, moveStretch},
                                                         {m_folderTree, moveStretch},
                                                         {m_progress, moveStretch},
                                                         {m_next, R::RESIZE_MOVE_X},
                                                         {m_browse, R::RESIZE_STRETCH_X},
                                                         {m_stop, R::RESIZE_STRETCH_X},
                                                         {m_convert, R::RESIZE_STRETCH_X},
                                                         {m_progressFrame, moveStretch}}) {
        m_resizer->AddControl(control, flags);
    }
    m_surface->installEventFilter(this);

    connect(m_browse, &QPushButton::clicked, this, &MainDialog::browse);
    connect(m_stop, &QPushButton::clicked, this, &MainDialog::stop);
    connect(m_next, &QPushButton::clicked, this, &MainDialog::next);
    connect(m_nextUser, &QPushButton::clicked, this, &MainDialog::nextUserMailbox);
    connect(m_backUser, &QPushButton::clicked, this, &MainDialog::backUserMailbox);
    connect(m_convert, &QPushButton::clicked, this, &MainDialog::convert);
    connect(m_mailboxList, &ReportListView::listClicked, this, &MainDialog::mailboxClicked);
    connect(m_folderTree, &FolderTreeView::folderPicked, this, &MainDialog::folderPicked);
    connect(m_folderTree, &FolderTreeView::tickToggled, this, &MainDialog::tickToggled);
    connect(m_messageList, &ReportListView::rowMenuRequested, this, &MainDialog::showMessageMenu);
    // Enter and a double click do what the row is for: a mailbox is added as Next adds it, a
    // message opens in the viewer.
    m_mailboxList->setDoubleClickActivates(true);
    m_messageList->setDoubleClickActivates(true);
    connect(m_mailboxList, &ReportListView::rowActivated, this, [this](int row) {
        if (edb::views::ActivateAction(edb::views::ListKind::Mailboxes, row >= 0) ==
            edb::views::ListAction::Next) {
            m_session.pickMailbox(static_cast<std::size_t>(row));
            next();
        }
    });
    connect(m_messageList, &ReportListView::rowActivated, this, [this](int row) {
        if (edb::views::ActivateAction(edb::views::ListKind::Messages, row >= 0) ==
            edb::views::ListAction::ViewMessage) {
            viewMessage(reinterpret_cast<const edb::MessageEntry*>(m_messageList->rowTag(row)));
        }
    });
    connect(m_folderTree, &FolderTreeView::folderMenuRequested, this, &MainDialog::showFolderMenu);
}

void MainDialog::buildStatusBar() {
    m_statusBar = new QStatusBar(this);
    m_statusBar->setSizeGripEnabled(true);
    m_titlePane = new QLabel(QStringLiteral(" ") + QString::fromLatin1(kCaption));
    m_webPane = new QLabel(QString::fromLatin1(kWebAddress));
    m_titlePane->setFixedWidth(duToPixelsX(kTemplateWidth) - kStatusPaneRest);
    m_statusBar->addWidget(m_titlePane);
    m_statusBar->addWidget(m_webPane, 1);
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_surface && event->type() == QEvent::Resize && m_resizer) {
        m_resizer->Resize();
    }
    return QDialog::eventFilter(watched, event);
}

void MainDialog::splitterMoved(int delta) {
    edb::CSplitterBar::ChangeWidth(m_folderTree, delta, edb::CSplitterBar::WIDTH_FROM_LEFT);
    edb::CSplitterBar::ChangeWidth(m_messageList, -delta, edb::CSplitterBar::WIDTH_FROM_RIGHT);
    m_surface->repaint();
}

void MainDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    keepWindowSize();
}

QRect MainDialog::placeOnScreen(QSize outer) const {
    // The fixed place and size, pulled inside the screen's available area: on a small screen
    // the fixed place would leave the buttons off-screen. A window cut to the area scrolls.
    const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (s == nullptr) {
        return {kWindowPosition, outer};
    }
    const QRect area = s->availableGeometry();
    const QSize frame = frameGeometry().size() - size();
    const QSize size = outer.boundedTo(area.size());
    const int x =
        std::clamp(kWindowPosition.x(), area.left(), area.left() + area.width() - size.width());
    const int y =
        std::clamp(kWindowPosition.y(), area.top(), area.top() + area.height() - size.height());
    return {QPoint(x, y), size - frame};
}

void MainDialog::keepWindowSize() {
    if (m_keepingSize) {
        return;
    }
    const int clientHeight = height() - (m_menuBar != nullptr ? m_menuBar->height() : 0);
    if (width() <= kLargestClientWidth || clientHeight <= kLargestClientHeight) {
        return; // a smaller window keeps its size and scrolls
    }
    const QRect place = placeOnScreen(kWindowOuterSize);
    if (size() == place.size() && pos() == place.topLeft()) {
        return;
    }
    m_keepingSize = true;
    move(place.topLeft());
    resize(place.size());
    m_keepingSize = false;
}

namespace {
// The one local .edb file a drag carries, else empty.
QString droppedStore(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls() || mime->urls().size() != 1) {
        return {};
    }
    const QUrl url = mime->urls().front();
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    return path.endsWith(QLatin1String(".edb"), Qt::CaseInsensitive) ? path : QString();
}
} // namespace

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (browseAllowed() && !droppedStore(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void MainDialog::dropEvent(QDropEvent* event) {
    const QString path = droppedStore(event->mimeData());
    if (!path.isEmpty() && openStore(path)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The dialog's default OK, where no list has the focus (the lists use Enter for their
        // rows): ends the run without a question.
        if (qobject_cast<QAbstractItemView*>(focusWidget()) != nullptr) {
            return;
        }
        done(QDialog::Accepted);
        return;
    case Qt::Key_Escape:
        done(QDialog::Rejected);
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void MainDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    // During Convert the question says what closing does: the conversion is cancelled after
    // the message it is writing, so every file written is whole.
    const char* question = converting() ? edb::views::kCloseDuringConvertQuestion : kStopQuestion;
    if (edb::platform().askYesNo(this, QString::fromLatin1(question))) {
        done(QDialog::Rejected); // the run ends, and the program with status 0
    }
}

void MainDialog::exitCommand() {
    if (edb::platform().askYesNo(this, QString::fromLatin1(edb::views::kCloseQuestion))) {
        done(QDialog::Rejected);
    }
}

void MainDialog::help() {
    OpenHelpFile(this, m_startupDirectory);
}

void MainDialog::about() {
    AboutDialog box(this);
    box.exec();
}

} // namespace edbapp
