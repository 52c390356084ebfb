// The main dialog's command flow on generated stores: Browse, the scan's progress and rows,
// mailbox clicks and Next, Back, Stop, Close and Exit, Enter, failures, size, Help and About.
#include "app/about_dialog.h"
#include "app/dialog_units.h"
#include "app/folder_tree_view.h"
#include "app/report_list_view.h"
#include "views/message_list.h"
#include "resources/artwork.h"
#include "tests/app/app_stores.h"
#include "tests/support/demo_store.h"
#ifdef EDB_TEST_READ_FAULTS
#include "tests/faults/read_faults.h"
#endif
#include "widgets/control_id.h"
#include "widgets/link_button.h"
#include "widgets/splitter_bar.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <fstream>
#include <functional>
#include <map>

using apptest::Window;
using edbapp::duRect;

namespace {
const QString kStop = QStringLiteral("Do you want to stop current process ?");

// Ann (1): Inbox (10) with Sub1 (11), Sub2 (12); Sent Items (13). Bob (2): Notes (20).
// Carl (3): no folders.
void writeTwoMailboxStore(const std::filesystem::path& path,
                          const std::vector<std::u16string>& names = {u"Ann", u"Bob", u"Carl"}) {
    apptest::writeStore(path, names,
                        {{10, 1, u"Inbox"},
                         {11, 10, u"Sub1"},
                         {12, 10, u"Sub2"},
                         {13, 1, u"Sent Items"},
                         {20, 2, u"Notes"}});
}

// Drags a local file onto the dialog and drops it there; true when the drop was taken.
bool drop(QWidget& target, const QString& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at = target.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &dropped);
    return dropped.isAccepted();
}

QStringList rootTexts(const edbapp::FolderTreeView* tree) {
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        out << tree->topLevelItem(i)->text(0);
    }
    return out;
}
} // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { edb::initArtwork(); }

    void readyStateAfterInitialisation() {
        Window w;
        edbapp::MainDialog& d = w.dialog;
        QCOMPARE(d.windowTitle(), QStringLiteral("Quenlor Systems Exchange To Eml Conversion"));
        QVERIFY(d.browseButton()->isEnabled());
        QVERIFY(d.openAction()->isEnabled());
        QVERIFY(!d.saveAction()->isEnabled());
        QVERIFY(d.pathEdit()->isVisible());
        QVERIFY(d.pathEdit()->text().isEmpty());
        for (QPushButton* b : {d.stopButton(), d.convertButton(), d.nextButton(),
                               d.nextUserMailboxButton(), d.backUserMailboxButton()}) {
            QVERIFY2(!b->isEnabled(), qPrintable(b->text()));
        }
        QVERIFY(!d.nextUserMailboxButton()->isVisible());
        QVERIFY(!d.backUserMailboxButton()->isVisible());
        QVERIFY(!d.progressBar()->isVisible());
        QVERIFY(!d.progressFrame()->isVisible());
        QCOMPARE(d.mailboxList()->rowCount(), 0);
        QCOMPARE(d.mailboxList()->horizontalHeaderItem(0)->text(),
                 QStringLiteral("User Mailbox Name"));
        QCOMPARE(d.mailboxList()->columnWidth(0), 640);
        const QStringList headings{"No", "From", "E-mail Subject", "Date"};
        const QList<int> widths{50, 130, 180, 150};
        QCOMPARE(d.messageList()->columnCount(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(d.messageList()->horizontalHeaderItem(i)->text(), headings[i]);
            if (i < 3) {
                QCOMPARE(d.messageList()->columnWidth(i), widths[i]);
            }
        }
        // The Date column is at least as wide as given, and wide enough for its longest text.
        QVERIFY(d.messageList()->columnWidth(3) >= widths[3]);
        QVERIFY(d.messageList()->columnWidth(3) >
                d.messageList()->fontMetrics().horizontalAdvance("Wed 28/12/2024 12:59:59 PM"));
        // Menus with their texts, the trailing blank of "Save " included.
        QStringList items;
        for (QAction* a : {d.openAction(), d.saveAction(), d.exitAction(), d.findAction(),
                           d.contentAction(), d.aboutAction()}) {
            items << a->text();
        }
        QCOMPARE(items,
                 (QStringList{"Open Edb File", "Save ", "Exit", "Find...", "Content", "About"}));
        QCOMPARE(d.findAction()->shortcut(), QKeySequence(QKeySequence::Find));
        // Status bar: the title after one blank, and the web address.
        const QList<QLabel*> panes = d.statusBarWidget()->findChildren<QLabel*>();
        QCOMPARE(panes.size(), 2);
        QCOMPARE(panes[0]->text(), QStringLiteral(" Quenlor Systems Exchange To Eml Conversion"));
        QVERIFY(panes[1]->text().contains(QStringLiteral("example.com")));
        QCOMPARE(d.pos(), QPoint(450, 410));
        QCOMPARE(d.frameGeometry().size(), QSize(718, 704));
    }

    void controlsSitAtTheirDialogUnitPositions() {
        Window w;
        edbapp::MainDialog& d = w.dialog;
        QCOMPARE(edbapp::duToPixelsX(476), 714);
        QCOMPARE(edbapp::duToPixelsY(401), 652);
        // The resizer has already applied the surface's growth beyond the template size.
        const int dW = std::max(d.surface()->width(), 714) - 714;
        const int dH = std::max(d.surface()->height(), 652) - 652;
        const auto stretchMove = [&](QRect r) { return r.adjusted(0, dH, dW, dH); };
        QCOMPARE(d.browseButton()->geometry(), duRect(386, 66, 50, 14).adjusted(0, 0, dW, 0));
        QCOMPARE(d.pathEdit()->geometry(), stretchMove(duRect(34, 64, 344, 19)));
        QCOMPARE(d.mailboxList()->geometry(), stretchMove(duRect(20, 102, 431, 92)));
        QCOMPARE(d.folderTree()->geometry(), stretchMove(duRect(20, 201, 123, 140)));
        QCOMPARE(d.messageList()->geometry(), duRect(144, 200, 308, 140));
        QCOMPARE(d.stopButton()->geometry(), duRect(98, 375, 78, 14).adjusted(0, 0, dW, 0));
        QCOMPARE(d.convertButton()->geometry(), duRect(189, 374, 78, 14).adjusted(0, 0, dW, 0));
        QCOMPARE(d.nextButton()->geometry(), duRect(277, 374, 78, 14).translated(dW, 0));
        QCOMPARE(d.progressBar()->geometry(), stretchMove(duRect(33, 354, 406, 8)));
        QCOMPARE(edb::controlId(d.nextButton()), 1025);
        QCOMPARE(edb::findControl(d.surface(), 1026), static_cast<QWidget*>(d.splitter()));
        // The splitter bar is 5 pixels thick and moves within 50 left and 500 right.
        const QRect bar = d.splitter()->geometry();
        QCOMPARE(bar.width(), 5);
        const int centre = bar.left() + (bar.right() + 1 - bar.left()) / 2;
        QCOMPARE(d.splitter()->minimum(), centre - 50);
        QCOMPARE(d.splitter()->maximum(), centre + 500);
        // A splitter move shifts the border between the tree and the message list.
        const QRect tree = d.folderTree()->geometry();
        const QRect list = d.messageList()->geometry();
        emit d.splitter()->SplitterMoved(30);
        QCOMPARE(d.folderTree()->geometry(), tree.adjusted(0, 0, 30, 0));
        QCOMPARE(d.messageList()->geometry(), list.adjusted(30, 0, 0, 0));
    }

    void cancelledChooserOnlyEmptiesThePath() {
        Window w;
        w.dialog.pathEdit()->setText(QStringLiteral("typed by hand"));
        QTest::mouseClick(w.dialog.browseButton(), Qt::LeftButton);
        QCOMPARE(w.fake.log, QStringList{"open file: Select Exchange Server File"});
        QVERIFY(w.dialog.pathEdit()->text().isEmpty());
        QVERIFY(w.dialog.browseButton()->isEnabled());
        QVERIFY(!w.dialog.progressBar()->isVisible());
        QVERIFY(!w.dialog.stopButton()->isEnabled());
    }

    void browseScansAndShowsTheMailboxes() {
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path());
        Window w;
        QSignalSpy progress(w.dialog.progressBar(), &QProgressBar::valueChanged);
        w.browse(store.str());
        QCOMPARE(w.dialog.lastScanResult().outcome, edb::ScanOutcome::Complete);
        QCOMPARE(w.dialog.pathEdit()->text(), QString::fromStdString(store.str()));
        QCOMPARE(w.dialog.state().sourcePath, store.str());
        QCOMPARE(w.dialog.mailboxList()->rowCount(), 3);
        QCOMPARE(w.dialog.mailboxList()->item(0, 0)->text(), QStringLiteral("Ann"));
        QCOMPARE(w.dialog.mailboxList()->item(2, 0)->text(), QStringLiteral("Carl"));
        for (const QList<QVariant>& v : progress) {
            QVERIFY(v[0].toInt() >= 0 && v[0].toInt() <= 100);
        }
        // Scan ended: progress hidden, frame and Stop stay, Browse and Open never come back.
        QVERIFY(!w.dialog.progressBar()->isVisible());
        QVERIFY(w.dialog.progressFrame()->isVisible());
        QVERIFY(w.dialog.stopButton()->isEnabled());
        QVERIFY(!w.dialog.browseButton()->isEnabled());
        QVERIFY(!w.dialog.openAction()->isEnabled());
        QVERIFY(!w.dialog.nextButton()->isEnabled());
        w.dialog.openAction()->trigger();
        QCOMPARE(w.fake.log.count(QStringLiteral("open file: Select Exchange Server File")), 1);
    }

    void rowsAppearWhileTheScanStillRuns() {
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path());
        Window w;
        w.browse(store.str(), /*held=*/true);
        edbapp::MainDialog& d = w.dialog;
        QVERIFY(d.scanRunning());
        QVERIFY(d.progressBar()->isVisible());
        QCOMPARE(d.mailboxList()->rowCount(), 3);
        // A pick before folder discovery shows the folders found so far: none.
        w.clickMailboxRow(0);
        QVERIFY(d.nextButton()->isEnabled());
        QTest::mouseClick(d.nextButton(), Qt::LeftButton);
        QVERIFY(w.waitIdle());
        QCOMPARE(rootTexts(d.folderTree()), QStringList{"Ann"});
        QCOMPARE(d.folderTree()->topLevelItem(0)->childCount(), 0);
        QVERIFY(d.convertButton()->isEnabled());
        // A new name clicked just before the end: the end disables Next all the same.
        w.clickMailboxRow(1);
        QVERIFY(d.nextButton()->isEnabled());
        w.fake.yesNoAnswers = {false};
        QTest::mouseClick(d.stopButton(), Qt::LeftButton); // No: the scan goes on
        QCOMPARE(w.fake.questions, QStringList{kStop});
        QVERIFY(apptest::waitUntil([&] { return !d.scanRunning(); }));
        QCOMPARE(d.lastScanResult().outcome, edb::ScanOutcome::Complete);
        QVERIFY(!d.nextButton()->isEnabled());
        QVERIFY(!d.progressBar()->isVisible());
        QVERIFY(d.convertButton()->isEnabled());
    }

    void mailboxClicks_data() {
        QTest::addColumn<QList<int>>("rows");       // rows clicked in turn; -1 the empty area
        QTest::addColumn<QList<bool>>("nextAfter"); // Next enabled after each click
        QTest::addColumn<bool>("equalNames");
        // A click only picks: nothing is recorded until Next adds the mailbox.
        QTest::newRow("same row twice") << QList<int>{0, 0} << QList<bool>{true, true} << false;
        QTest::newRow("A B A") << QList<int>{0, 1, 0} << QList<bool>{true, true, true} << false;
        QTest::newRow("equal names") << QList<int>{0, 2} << QList<bool>{true, true} << true;
        QTest::newRow("empty area acts on the mark")
            << QList<int>{1, -1} << QList<bool>{true, true} << false;
        QTest::newRow("empty area before any row") << QList<int>{-1} << QList<bool>{false} << false;
    }

    void mailboxClicks() {
        QFETCH(QList<int>, rows);
        QFETCH(QList<bool>, nextAfter);
        QFETCH(bool, equalNames);
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path(),
                             equalNames ? std::vector<std::u16string>{u"Ann", u"Bob", u"Ann"}
                                        : std::vector<std::u16string>{u"Ann", u"Bob", u"Carl"});
        Window w;
        w.browse(store.str());
        for (int i = 0; i < rows.size(); ++i) {
            if (rows[i] < 0) {
                w.clickMailboxEmptyArea();
            } else {
                w.clickMailboxRow(rows[i]);
            }
            QVERIFY2(w.dialog.nextButton()->isEnabled() == nextAfter[i],
                     qPrintable(QStringLiteral("after click %1").arg(i + 1)));
        }
    }

    void nextAddsRootsInPickOrder() {
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path());
        Window w;
        w.browse(store.str());
        edbapp::MainDialog& d = w.dialog;
        w.clickMailboxRow(1);
        QTest::mouseClick(d.nextButton(), Qt::LeftButton);
        QVERIFY(w.waitIdle());
        QVERIFY(!d.nextButton()->isEnabled());
        QVERIFY(d.convertButton()->isEnabled());
        w.clickMailboxRow(0);
        QTest::mouseClick(d.nextButton(), Qt::LeftButton);
        QVERIFY(w.waitIdle());
        QCOMPARE(rootTexts(d.folderTree()), (QStringList{"Bob", "Ann"}));
        QCOMPARE(d.session().step(), 2);
        QVERIFY(w.treeItem("Bob/Notes") != nullptr);
        QVERIFY(w.treeItem("Ann/Inbox/Sub2") != nullptr);
        QVERIFY(w.treeItem("Ann/Sent Items") != nullptr);
        QVERIFY(!d.nextUserMailboxButton()->isEnabled()); // no chosen mailbox lies ahead
        QVERIFY(d.backUserMailboxButton()->isEnabled());  // step 2
        // Next on a mailbox already chosen adds nothing and builds nothing.
        d.next();
        QVERIFY(w.waitIdle());
        QCOMPARE(d.session().step(), 2);
        QCOMPARE(rootTexts(d.folderTree()), (QStringList{"Bob", "Ann"}));
        QVERIFY(!d.nextUserMailboxButton()->isEnabled());
        QVERIFY(w.fake.errors.isEmpty());
    }

    void largeTreesArriveWholeInOrderAndLeadBackToTheirFolders() {
        // More folders than one delivery carries: 20 under the mailbox, 680 below those.
        std::vector<apptest::FolderSpec> folders;
        for (std::uint64_t i = 0; i < 700; ++i) {
            folders.push_back({100 + i, i < 20 ? 1 : 100 + i % 20,
                               QStringLiteral("F%1").arg(i).toStdU16String()});
        }
        edbtest::TempFile store;
        apptest::writeStore(store.path(), {u"Ann"}, folders);
        Window w;
        w.browse(store.str());
        w.clickMailboxRow(0);
        w.dialog.next();
        QVERIFY(w.waitIdle());
        QVERIFY(!w.dialog.treeWorkerRunning());

        // The same build on its own catalog, recorded depth first, is what the view must show.
        struct NullHost : edb::ScanHost {
            void progress(std::int64_t) override {}
            void mailboxRowsReady(const std::vector<std::string>&) override {}
        } host;
        struct Recorder : edb::TreeSink {
            std::map<edb::TreeItem, int> depth{{0, -1}};
            QStringList seen;
            edb::TreeItem insertItem(edb::TreeItem parent, const std::string& text, char,
                                     const std::string&, std::size_t) override {
                const edb::TreeItem item = depth.size();
                depth[item] = depth[parent] + 1;
                seen << QString::number(depth[item]) + " " + QString::fromStdString(text);
                return item;
            }
        } expected;
        edbtest::TempFile copy; // the window holds the store open, and exclusively
        std::filesystem::copy_file(store.path(), copy.path(),
                                   std::filesystem::copy_options::overwrite_existing);
        edb::StoreCatalog cat;
        QCOMPARE(edb::RunScan(cat, copy.str(), host).outcome, edb::ScanOutcome::Complete);
        QVERIFY(edb::MailboxAt(cat, 0) != nullptr);
        (void)edb::BuildFolderTree(cat, *edb::MailboxAt(cat, 0), expected);
        QVERIFY(expected.seen.size() > 600);

        edbapp::FolderTreeView* tree = w.dialog.folderTree();
        QCOMPARE(tree->topLevelItemCount(), 1);
        QStringList shown;
        std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* item, int depth) {
            shown << QString::number(depth) + " " + item->text(0);
            const edb::FolderNode* node =
                edb::FolderAt(w.dialog.catalog(), tree->folderOf(tree->handleOf(item)));
            // Every folder item leads back to its folder (the root to none).
            QCOMPARE(node != nullptr ? QString::fromStdString(node->name) : QString(),
                     depth == 0 ? QString() : item->text(0));
            for (int c = 0; c < item->childCount(); ++c) {
                walk(item->child(c), depth + 1);
            }
        };
        walk(tree->topLevelItem(0), 0);
        QCOMPARE(shown, expected.seen);
    }

    void nextWithoutAnyMailboxAsksForOne() {
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path());
        Window w;
        w.browse(store.str());
        w.dialog.next();
        QCOMPARE(w.fake.errors, QStringList{"Please Select Any Mailbox"});
        QCOMPARE(w.dialog.session().step(), 0); // nothing added, no step taken
        QVERIFY(!w.dialog.convertButton()->isEnabled());
        QCOMPARE(w.dialog.folderTree()->topLevelItemCount(), 0);
    }

    void backWithStepTwoRebuildsTheFirstMailboxAlone() {
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path());
        Window w;
        w.browse(store.str());
        edbapp::MainDialog& d = w.dialog;
        for (int row : {0, 1}) {
            w.clickMailboxRow(row);
            d.next();
            QVERIFY(w.waitIdle());
        }
        d.messageList()->appendRow({"1", "x", "y", "z"});
        const QTreeWidgetItem* oldInbox = w.treeItem("Ann/Inbox");
        const edb::TreeItem oldHandle = d.folderTree()->handleOf(oldInbox);
        // A tick in the tree about to go: it must not be left in the session for Convert.
        d.folderTree()->setCurrentItem(w.treeItem("Bob/Notes"));
        QTest::keyClick(d.folderTree(), Qt::Key_Space);
        QCOMPARE(d.session().ticked().size(), std::size_t(1));
        d.backUserMailbox();
        QVERIFY(w.waitIdle());
        QCOMPARE(d.session().step(), 1);
        QCOMPARE(rootTexts(d.folderTree()), QStringList{"Ann"});
        QCOMPARE(d.messageList()->rowCount(), 0);
        QVERIFY(w.treeItem("Ann/Inbox/Sub1") != nullptr);
        QVERIFY(d.folderTree()->handleOf(w.treeItem("Ann/Inbox")) != oldHandle);
        QVERIFY(!d.backUserMailboxButton()->isEnabled());
        QVERIFY(d.nextUserMailboxButton()->isEnabled());
        QVERIFY(w.treeItem("Bob/Notes") == nullptr); // Bob's tree went with the rebuild
        QVERIFY(d.session().ticked().empty());
    }

    void stopAnsweredNoThenYes() {
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path());
        {
            Window w;
            w.browse(store.str(), true);
            // While the question is open the scan stays where it was.
            bool runningDuringQuestion = false;
            w.fake.onMessageBox = [&](const QString&) {
                runningDuringQuestion = w.dialog.scanRunning();
            };
            w.fake.yesNoAnswers = {true};
            w.dialog.stop();
            QVERIFY(runningDuringQuestion);
            QVERIFY(apptest::waitUntil([&] { return !w.dialog.scanRunning(); }));
            QCOMPARE(w.dialog.lastScanResult().outcome, edb::ScanOutcome::Stopped);
            // Yes froze the scanning state.
            QVERIFY(w.dialog.progressBar()->isVisible());
            QVERIFY(!w.dialog.browseButton()->isEnabled());
            QVERIFY(w.fake.errors.isEmpty());
        }
        {
            Window w;
            w.browse(store.str()); // runs to its end
            w.fake.yesNoAnswers = {true};
            w.dialog.stop(); // asked, and changes nothing
            QCOMPARE(w.fake.questions, QStringList{kStop});
            QVERIFY(!w.dialog.progressBar()->isVisible());
            QVERIFY(w.fake.exitStatuses.isEmpty());
        }
    }

    void closeAsksAndEndsTheRunOnYes() {
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path());
        Window w;
        w.browse(store.str(), true); // the scan waits after its rows, as if Stop were asked
        QVERIFY(w.dialog.workersRunning() == 1);
        w.fake.yesNoAnswers = {false, true};
        w.dialog.close();
        QVERIFY(w.dialog.isVisible());
        w.dialog.close();
        QCOMPARE(w.fake.questions, (QStringList{kStop, kStop}));
        // The same end as Exit, Enter and Esc: the waiting scan is cancelled and joined, then
        // the dialog returns and the program ends with it.
        QCOMPARE(w.dialog.workersRunning(), std::size_t(0));
        QVERIFY(!w.dialog.isVisible());
        QCOMPARE(w.dialog.result(), int(QDialog::Rejected));
        QVERIFY(w.fake.exitStatuses.isEmpty());
    }

    void exitAsksAndEndsTheDialogOnYes() {
        Window w;
        const QString q = QStringLiteral("Are you sure, you want to close the software?");
        w.fake.yesNoAnswers = {false};
        w.dialog.exitAction()->trigger();
        QVERIFY(w.dialog.isVisible());
        w.fake.yesNoAnswers = {true};
        w.dialog.exitAction()->trigger();
        QCOMPARE(w.fake.questions, (QStringList{q, q}));
        QVERIFY(!w.dialog.isVisible());
        QCOMPARE(w.dialog.result(), int(QDialog::Rejected));
        QVERIFY(w.fake.exitStatuses.isEmpty());
    }

    void enterAndEscEndTheDialogWithoutAQuestion() {
        {
            Window w;
            w.dialog.pathEdit()->setFocus();
            QTest::keyClick(w.dialog.pathEdit(), Qt::Key_Return);
            QVERIFY(!w.dialog.isVisible());
            QCOMPARE(w.dialog.result(), int(QDialog::Accepted));
            QVERIFY(w.fake.questions.isEmpty());
        }
        {
            Window w;
            QTest::keyClick(w.dialog.mailboxList(), Qt::Key_Escape);
            QVERIFY(!w.dialog.isVisible());
            QVERIFY(w.fake.questions.isEmpty());
        }
    }

    void clickingAroundThenNextAddsTheLastPicked() {
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path());
        Window w;
        w.browse(store.str());
        edbapp::MainDialog& d = w.dialog;
        w.clickMailboxRow(0);
        w.clickMailboxRow(1);
        w.clickMailboxRow(0);
        QTest::mouseClick(d.nextButton(), Qt::LeftButton);
        QVERIFY(w.waitIdle());
        QCOMPARE(rootTexts(d.folderTree()), QStringList{"Ann"});
        QVERIFY(w.treeItem("Ann/Inbox/Sub1") != nullptr);
        // Added once: clicking it again leaves Next grey; B is still there to add.
        w.clickMailboxRow(0);
        QVERIFY(!d.nextButton()->isEnabled());
        w.clickMailboxRow(1);
        QVERIFY(d.nextButton()->isEnabled());
        QTest::mouseClick(d.nextButton(), Qt::LeftButton);
        QVERIFY(w.waitIdle());
        QCOMPARE(rootTexts(d.folderTree()), (QStringList{"Ann", "Bob"}));
        QCOMPARE(d.session().chosenMailboxes(), (std::vector<std::size_t>{0, 1}));
        QVERIFY(w.fake.errors.isEmpty());
    }

    void filesWithoutMailboxSayWhyAndAnotherFileOpens() {
        edbtest::TempFile damaged;
        apptest::writeStore(damaged.path(), {}, {{10, 1, u"Inbox"}});
        edbtest::TempFile text("notes", ".txt");
        {
            std::ofstream out(text.path());
            for (int i = 0; i < 500; ++i) {
                out << "a line of plain text, not a database\n";
            }
        }
        edbtest::TempFile demo("demo");
        edbtest::writeDemoStore(demo.path());
        Window w;
        edbapp::MainDialog& d = w.dialog;
        w.browse(damaged.str());
        QCOMPARE(w.fake.errors, QStringList{"Highly corrupted, Recovery not possible..."});
        QCOMPARE(d.mailboxList()->rowCount(), 0);
        // Back to Ready: Browse and File > Open take another file in the same run.
        QVERIFY(d.browseButton()->isEnabled());
        QVERIFY(d.openAction()->isEnabled());
        QVERIFY(!d.stopButton()->isEnabled());
        QVERIFY(!d.progressBar()->isVisible());
        w.browse(text.str());
        QCOMPARE(w.fake.errors.size(), 2);
        QVERIFY2(w.fake.errors[1].contains(QStringLiteral("not an ESE database")) &&
                     w.fake.errors[1].contains(QString::fromStdString(text.str())),
                 qPrintable(w.fake.errors[1]));
        QVERIFY(d.browseButton()->isEnabled());
        w.browse(demo.str());
        QCOMPARE(w.fake.errors.size(), 2);
        QCOMPARE(d.lastScanResult().outcome, edb::ScanOutcome::Complete);
        QCOMPARE(d.mailboxList()->rowCount(), 3);
        QVERIFY(!d.browseButton()->isEnabled()); // one store per run once it shows mailboxes
        QVERIFY(!d.openAction()->isEnabled());
        w.clickMailboxRow(0);
        QTest::mouseClick(d.nextButton(), Qt::LeftButton);
        QVERIFY(w.waitIdle());
        QCOMPARE(d.folderTree()->topLevelItemCount(), 1);
    }

    void tabReachesEveryControlInWorkOrder() {
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path());
        Window w;
        w.browse(store.str());
        edbapp::MainDialog& d = w.dialog;
        w.clickMailboxRow(0);
        QTest::mouseClick(d.nextButton(), Qt::LeftButton);
        QVERIFY(w.waitIdle());
        w.clickMailboxRow(1); // Next enabled again, so Tab stops there
        d.mailboxList()->setFocus();
        QVERIFY(apptest::waitUntil([&] { return d.mailboxList()->hasFocus(); }));
        // Tab leaves the list at once (it does not walk its cells) and reaches the tree,
        // the message list and Convert.
        QList<QWidget*> seen;
        for (int i = 0; i < 8 && !seen.contains(d.convertButton()); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            seen << QApplication::focusWidget();
        }
        QCOMPARE(seen.value(0), static_cast<QWidget*>(d.nextButton()));
        QVERIFY(seen.contains(d.folderTree()));
        QVERIFY(seen.contains(d.messageList()));
        QVERIFY(seen.contains(d.convertButton()));
        QVERIFY(seen.indexOf(d.folderTree()) < seen.indexOf(d.messageList()));
    }

    void storeThatCannotBeOpenedReturnsToReady() {
        edbtest::TempDir dir;
        const std::string missing = (dir.path() / "gone.edb").string();
        Window w;
        w.browse(missing);
        QCOMPARE(w.fake.errors.size(), 1);
        QVERIFY2(w.fake.errors[0].contains(QString::fromStdString(missing)),
                 qPrintable(w.fake.errors[0]));
        QVERIFY(w.dialog.browseButton()->isEnabled());
        QVERIFY(w.dialog.openAction()->isEnabled());
        QVERIFY(!w.dialog.progressBar()->isVisible());
        QVERIFY(!w.dialog.progressFrame()->isVisible());
        QVERIFY(!w.dialog.stopButton()->isEnabled());
        QCOMPARE(w.dialog.mailboxList()->rowCount(), 0);
        // Browse works again.
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path());
        w.browse(store.str());
        QCOMPARE(w.dialog.mailboxList()->rowCount(), 3);
    }

    void windowCannotBeEnlargedAndStaysOnItsScreen() {
        Window w;
        edbapp::MainDialog& d = w.dialog;
        QCOMPARE(d.screen()->name(), QStringLiteral("large"));
        d.resize(900, 850);
        QCOMPARE(d.frameGeometry().size(), QSize(718, 704));
        QCOMPARE(d.pos(), QPoint(450, 410));
        d.resize(400, 300);
        QCOMPARE(d.size(), QSize(400, 300));
        QVERIFY(apptest::waitUntil([&] {
            auto* area = d.findChild<QScrollArea*>();
            return area->verticalScrollBar()->maximum() > 0 &&
                   area->horizontalScrollBar()->maximum() > 0;
        }));
        // On a screen smaller than the fixed place and size, the window is pulled inside the
        // available area and cut to it; its buttons stay reachable by scrolling.
        QScreen* small = QGuiApplication::screens().at(1);
        d.windowHandle()->setScreen(small);
        d.move(small->geometry().topLeft());
        d.resize(900, 850);
        const QRect area = small->availableGeometry();
        QVERIFY2(area.contains(d.frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(d.x())
                                .arg(d.y())
                                .arg(d.frameGeometry().width())
                                .arg(d.frameGeometry().height())));
        QCOMPARE(d.frameGeometry().width(), 718);
        QCOMPARE(d.frameGeometry().height(), area.height());
        QVERIFY(apptest::waitUntil(
            [&] { return d.findChild<QScrollArea*>()->verticalScrollBar()->maximum() > 0; }));
    }

    void helpLooksInTheStartupDirectory() {
        edbtest::TempDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(dir.path().string()));
        {
            Window w;
            QDir::setCurrent(previous); // the startup directory was kept, not the later one
            const QString chm = QDir(QString::fromStdString(dir.path().string()))
                                    .filePath(QStringLiteral("QlrEmlExchange.chm"));
            w.dialog.contentAction()->trigger();
            QCOMPARE(w.fake.informations, QStringList{"Unable to locate software Help file"});
            QFile f(chm);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.close();
            w.dialog.contentAction()->trigger();
            QCOMPARE(w.fake.openedTargets, QStringList{chm});
            QVERIFY(QFile::remove(chm));
            w.dialog.contentAction()->trigger();
            QCOMPARE(w.fake.informations.size(), 2);
        }
        QDir::setCurrent(previous);
    }

    void helpWithoutADesktopHandlerShowsItsOwnWindowOrNamesTheFile() {
        edbtest::TempDir dir;
        const QDir startup(QString::fromStdString(dir.path().string()));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(startup.path());
        Window w;
        QDir::setCurrent(previous);
        w.fake.openSucceeds = false;
        // Only the compiled help, which nothing here opens: an error box names it.
        const QString chm = startup.filePath(QStringLiteral("QlrEmlExchange.chm"));
        QFile c(chm);
        QVERIFY(c.open(QIODevice::WriteOnly));
        c.close();
        w.dialog.contentAction()->trigger();
        QCOMPARE(w.fake.errors.size(), 1);
        QVERIFY2(w.fake.errors[0].contains(QDir::toNativeSeparators(chm)),
                 qPrintable(w.fake.errors[0]));
        QVERIFY(w.dialog.findChild<QDialog*>(QStringLiteral("helpWindow")) == nullptr);
        // With the HTML pages beside it, they are shown in the program's own window.
        QVERIFY(QFile::copy(QStringLiteral(EDB_HELP_HTML),
                            startup.filePath(QStringLiteral("QlrEmlExchange.html"))));
        w.dialog.contentAction()->trigger();
        auto* help = w.dialog.findChild<QDialog*>(QStringLiteral("helpWindow"));
        QVERIFY(help != nullptr && help->isVisible());
        // It covers what the program does today, not only its first destination.
        const QString text = help->findChild<QTextBrowser*>()->toPlainText();
        for (const char* topic : {"Opening a store file", "mbox", "Maildir", "IMAP server",
                                  "message viewer", "Edit > Find", "export-log.txt", "edb2eml",
                                  "not an ESE database"}) {
            QVERIFY2(text.contains(QString::fromUtf8(topic)), topic);
        }
        QCOMPARE(w.fake.errors.size(), 1);
        QCOMPARE(w.fake.openedTargets.size(), 2); // the desktop was asked each time
    }

    // A store on a failing disk: the scan finds what lies outside the bad pages and the status
    // bar says what could not be read, until the next scan.
    void failingDiskIsSaidInTheStatusBar() {
#ifdef EDB_TEST_READ_FAULTS
        edbtest::TempFile store("failing");
        writeTwoMailboxStore(store.path());
        edbtest::TempFile healthy("healthy");
        writeTwoMailboxStore(healthy.path());
        // The last two pages (the last one short) fail: one range.
        const std::uint64_t size = std::filesystem::file_size(store.path());
        const std::uint64_t last = (size - 1) / 4096 * 4096;
        edbtest::SetReadFaults(store.str(), {{last - 4096 + 5, 1}, {last, 1}});
        {
            Window w;
            w.browse(store.str());
            edbtest::ClearReadFaults();
            QVERIFY(w.waitIdle());
            QCOMPARE(w.dialog.statusBarWidget()->currentMessage(),
                     QStringLiteral("Read incompletely: 1 range (%1 bytes) could not be read: "
                                    "Input/output error")
                         .arg(size - last + 4096));
        }
        Window w;
        w.browse(healthy.str());
        QVERIFY(w.waitIdle());
        QVERIFY(w.dialog.statusBarWidget()->currentMessage().isEmpty());
#else
        QSKIP("no failing disk on this system");
#endif
    }

    void storeOpenedByArgumentOrDropScansWithoutAClick() {
        edbtest::TempFile store("by-argument");
        writeTwoMailboxStore(store.path());
        {
            Window w;
            w.dialog.openStoreWhenShown(QString::fromStdString(store.str()));
            QVERIFY(apptest::waitUntil([&] { return w.dialog.mailboxList()->rowCount() == 3; }));
            QVERIFY(w.waitIdle());
            QVERIFY(w.fake.log.filter(QStringLiteral("open file:")).isEmpty());
            QCOMPARE(w.dialog.pathEdit()->text(), QString::fromStdString(store.str()));
            QVERIFY(!w.dialog.browseButton()->isEnabled());
            // It was the run's one Browse: neither a second open nor a drop is taken.
            QVERIFY(!w.dialog.openStore(QString::fromStdString(store.str())));
            QVERIFY(!drop(w.dialog, QString::fromStdString(store.str())));
        }
        Window w;
        QVERIFY(!drop(w.dialog, QStringLiteral("/tmp/notes.txt")));
        QVERIFY(drop(w.dialog, QString::fromStdString(store.str())));
        QVERIFY(apptest::waitUntil([&] { return !w.dialog.scanRunning(); }));
        QVERIFY(w.waitIdle());
        QCOMPARE(w.dialog.mailboxList()->rowCount(), 3);
        QCOMPARE(w.dialog.pathEdit()->text(), QString::fromStdString(store.str()));
    }

    void aboutBoxFromTheMenuAlsoDuringAScan() {
        edbtest::TempFile store;
        writeTwoMailboxStore(store.path());
        Window w;
        w.browse(store.str(), true);
        QString title;
        QStringList links;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<edbapp::AboutDialog*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            title = box->windowTitle();
            for (auto* l : box->findChildren<edb::CLinkButton*>()) {
                links << QString::number(edb::controlId(l)) + " " + l->text();
            }
            QCOMPARE(box->okButton()->geometry(), duRect(125, 110, 50, 14));
            QTest::keyClick(box, Qt::Key_Escape);
        });
        w.dialog.aboutAction()->trigger();
        QCOMPARE(title, QStringLiteral("About Quenlor Systems Exchange To Eml Conversion"));
        QCOMPARE(links.size(), 2);
        QVERIFY(links[0].startsWith("1001 ") && links[0].contains("example.com"));
        QVERIFY(links[1].startsWith("1002 ") && links[1].contains("@example.com"));
        QVERIFY(w.dialog.scanRunning());
    }
};

QTEST_MAIN(MainDialogTest)
#include "main_dialog_test.moc"
