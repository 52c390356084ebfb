// The window driven as a new user drives it: the keyboard alone, Enter and double clicks on the
// lists, the menus' Alt keys, closing during Convert, and Help found beside the program.
#include "app/about_dialog.h"
#include "app/folder_tree_view.h"
#include "app/report_list_view.h"
#include "tests/app/app_stores.h"
#include "tests/support/demo_store.h"
#include "views/texts.h"
#ifdef EDB_APP_HAS_DESTINATIONS
#include "app/find_window.h"
#include "app/message_viewer.h"
#endif

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QWindow>

using apptest::Window;

namespace {

void writeTwoMailboxes(const std::filesystem::path& path) {
    apptest::writeStore(path, {u"Ann", u"Bob"},
                        {{10, 1, u"Inbox"}, {11, 10, u"Sub1"}, {13, 1, u"Sent Items"},
                         {20, 2, u"Notes"}});
}

QStringList rootTexts(const edbapp::FolderTreeView* tree) {
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        out << tree->topLevelItem(i)->text(0);
    }
    return out;
}

void key(QWidget* target, Qt::Key k) {
    target->setFocus();
    QTest::keyClick(target, k);
}

} // namespace

class WindowKeysTest : public QObject {
    Q_OBJECT

private slots:
    // The arrow keys pick a mailbox as a click does; Next adds the highlighted one; Enter on a
    // mailbox adds it as Next does, and never ends the run.
    void theKeyboardAloneAddsMailboxes() {
        edbtest::TempFile store;
        writeTwoMailboxes(store.path());
        Window w;
        w.browse(store.str());
        edbapp::MainDialog& d = w.dialog;
        edbapp::ReportListView* list = d.mailboxList();
        list->setCurrentCell(-1, -1);
        key(list, Qt::Key_Down); // the first row
        QCOMPARE(list->selectionMark(), 0);
        QVERIFY(d.nextButton()->isEnabled());
        key(list, Qt::Key_Down); // then Bob, highlighted: Next adds him, not Ann
        QTest::mouseClick(d.nextButton(), Qt::LeftButton);
        QVERIFY(w.waitIdle());
        QCOMPARE(rootTexts(d.folderTree()), QStringList{"Bob"});
        key(list, Qt::Key_Up);
        key(list, Qt::Key_Return);
        QVERIFY(w.waitIdle());
        QVERIFY(d.isVisible());
        QCOMPARE(rootTexts(d.folderTree()), (QStringList{"Bob", "Ann"}));
        // A double click on a row is Next too; Bob is in already, so nothing changes.
        const QRect bob = list->visualItemRect(list->item(1, 0));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, bob.center());
        QVERIFY(w.waitIdle());
        QCOMPARE(rootTexts(d.folderTree()), (QStringList{"Bob", "Ann"}));
        QVERIFY(w.fake.errors.isEmpty());
    }

    // A folder reached with the arrow keys is listed as a click lists it; Enter on it lists it
    // and does not end the run.
    void theArrowKeysAndEnterListFolders() {
        edbtest::TempFile store;
        writeTwoMailboxes(store.path());
        Window w;
        w.browse(store.str());
        w.clickMailboxRow(0);
        w.dialog.next();
        QVERIFY(w.waitIdle());
        edbapp::FolderTreeView* tree = w.dialog.folderTree();
        tree->expandAll();
        tree->setFocus();
        tree->setCurrentItem(tree->topLevelItem(0));
        QTest::keyClick(tree, Qt::Key_Down);
        QVERIFY(w.waitIdle());
        QTreeWidgetItem* inbox = w.treeItem("Ann/Inbox");
        QCOMPARE(tree->currentItem(), inbox);
        QCOMPARE(w.dialog.state().shownFolderItem.load(), tree->handleOf(inbox));
        QCOMPARE(w.dialog.messageList()->horizontalHeaderItem(2)->text(), QStringLiteral("Subject"));
        tree->setCurrentItem(w.treeItem("Ann/Sent Items"));
        QTest::keyClick(tree, Qt::Key_Return);
        QVERIFY(w.waitIdle());
        QVERIFY(w.dialog.isVisible());
        QCOMPARE(w.dialog.state().shownFolderItem.load(),
                 tree->handleOf(w.treeItem("Ann/Sent Items")));
        // The list heads the stored names of Sent Items "To".
        QCOMPARE(w.dialog.messageList()->horizontalHeaderItem(1)->text(), QStringLiteral("To"));
        // Where no list has the focus, Enter still ends the run as it always did.
        key(w.dialog.pathEdit(), Qt::Key_Return);
        QVERIFY(!w.dialog.isVisible());
    }

#ifdef EDB_APP_HAS_DESTINATIONS
    // Enter and a double click on a message open the viewer; in Find's results Enter opens the
    // message instead of searching again.
    void enterAndDoubleClickOpenMessages() {
        edbtest::TempFile store("demo");
        edbtest::writeDemoStore(store.path());
        Window w;
        QVERIFY(w.openFirstInbox(store.str()));
        edbapp::ReportListView* list = w.dialog.messageList();
        QVERIFY(list->rowCount() > 1);
        const auto viewers = [&] { return w.dialog.findChildren<edbapp::MessageViewer*>().size(); };
        list->setCurrentCell(1, 0);
        key(list, Qt::Key_Return);
        QCOMPARE(viewers(), qsizetype(1));
        QVERIFY(w.dialog.isVisible());
        const QRect first = list->visualItemRect(list->item(0, 1));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first.center());
        QCOMPARE(viewers(), qsizetype(2));
        const auto* opened = w.dialog.findChildren<edbapp::MessageViewer*>().last();
        QCOMPARE(opened->subjectLabel()->text(), list->item(0, 2)->text());

        QTest::keyClick(&w.dialog, Qt::Key_F, Qt::ControlModifier);
        edbapp::FindWindow* find = w.dialog.findWindow();
        QVERIFY(find != nullptr);
        find->textEdit()->setText(QStringLiteral("re:"));
        QTest::mouseClick(find->findButton(), Qt::LeftButton);
        QVERIFY(apptest::waitUntil([&] { return !find->searching(); }));
        edbapp::ReportListView* results = find->results();
        QVERIFY(results->rowCount() > 0);
        const int found = results->rowCount();
        results->selectRow(0);
        key(results, Qt::Key_Return);
        QCOMPARE(viewers(), qsizetype(3));
        QVERIFY(!find->searching());
        QCOMPARE(results->rowCount(), found); // no search ran again
    }

    // The title bar's close reaches the window while Convert runs: it asks, and Yes cancels the
    // conversion after the message being written and ends the run.
    void closingDuringConvertAsksAndCancels() {
        edbtest::TempFile store("demo");
        edbtest::writeDemoStore(store.path());
        edbtest::TempDir out;
        Window w;
        w.browse(store.str());
        w.clickMailboxRow(0);
        w.dialog.next();
        QVERIFY(w.waitIdle());
        edbapp::FolderTreeView* tree = w.dialog.folderTree();
        QTreeWidgetItem* root = tree->topLevelItem(0);
        const QRect box = tree->checkBoxRect(root);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, box.center());
        QVERIFY(w.waitIdle());
        QVERIFY(!w.dialog.session().ticked().empty());
        w.fake.directoryAnswers = {QString::fromStdString(out.path().string())};
        w.dialog.convert();
        auto* progress = w.dialog.findChild<QProgressDialog*>();
        QVERIFY(progress != nullptr);
        // Not modal: a modal dialog would keep the window's own close from arriving.
        QCOMPARE(progress->windowModality(), Qt::NonModal);
        QVERIFY(apptest::waitUntil([&] {
            return progress->labelText().contains(QRegularExpression(QStringLiteral("\\(\\d+ of")));
        }));
        // While it runs, the window offers nothing that would disturb it.
        QVERIFY(w.dialog.converting());
        QVERIFY(!w.dialog.convertButton()->isEnabled());
        QVERIFY(!w.dialog.browseButton()->isEnabled());
        w.fake.yesNoAnswers = {false, true};
        w.dialog.windowHandle()->close();
        QVERIFY(w.dialog.isVisible());
        QVERIFY(w.dialog.converting());
        w.dialog.windowHandle()->close();
        const QString q = QString::fromLatin1(edb::views::kCloseDuringConvertQuestion);
        QCOMPARE(w.fake.questions, (QStringList{q, q}));
        QVERIFY(!w.dialog.isVisible());
        QCOMPARE(w.dialog.workersRunning(), std::size_t(0));
        // Only whole files are left: no temporary file of a message cut off.
        for (const auto& e : std::filesystem::recursive_directory_iterator(out.path())) {
            QVERIFY2(e.path().filename().string().rfind(".edb2eml-", 0) != 0,
                     e.path().string().c_str());
        }
    }
#endif

    void theMenusOpenWithAltKeys() {
        Window w;
        QStringList titles;
        for (QAction* menu : w.dialog.findChild<QMenuBar*>()->actions()) {
            titles << menu->text();
        }
        QCOMPARE(titles, (QStringList{"&File", "&Edit", "&Help"}));
        QCOMPARE(QKeySequence::mnemonic(titles[0]), QKeySequence(Qt::ALT | Qt::Key_F));
        QCOMPARE(QKeySequence::mnemonic(titles[1]), QKeySequence(Qt::ALT | Qt::Key_E));
        QCOMPARE(QKeySequence::mnemonic(titles[2]), QKeySequence(Qt::ALT | Qt::Key_H));
    }

    // Started from another folder, Help finds the pages beside the program.
    void helpIsFoundBesideTheProgram() {
        edbtest::TempDir elsewhere;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(elsewhere.path().string()));
        Window w;
        QDir::setCurrent(previous);
        const QString beside = QDir(QCoreApplication::applicationDirPath())
                                   .filePath(QStringLiteral("QlrEmlExchange.chm"));
        QFile f(beside);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        w.dialog.contentAction()->trigger();
        QFile::remove(beside);
        QCOMPARE(w.fake.openedTargets, QStringList{beside});
        QVERIFY(w.fake.informations.isEmpty());
    }

    // The help describes the window as it is: no steps through added mailboxes (there are no
    // such buttons), the keys as they work, and the Windows build.
    void helpDescribesTheProgramAsItIs() {
        QFile page(QStringLiteral(EDB_HELP_HTML));
        QVERIFY(page.open(QIODevice::ReadOnly));
        QTextBrowser browser;
        browser.setHtml(QString::fromUtf8(page.readAll()));
        const QString text = browser.toPlainText();
        QVERIFY(!text.contains(QStringLiteral("User Mailbox")));
        for (const char* topic : {"Enter", "double click", "arrow keys", "Alt+F", "On Windows",
                                  "edb2eml.exe", "beside the program", "cancel it and close",
                                  "über"}) {
            QVERIFY2(text.contains(QString::fromUtf8(topic)), topic);
        }
    }

    // About names the version and what the program does today, in a text that fits above the
    // links.
    void aboutSaysWhatTheProgramDoes() {
        edbapp::AboutDialog box;
        const QString text = box.text()->text();
        for (const char* part : {"Version ", "viewer", "Find", "mbox", "Maildir", "PST", "IMAP",
                                 "edb2eml", "Windows"}) {
            QVERIFY2(text.contains(QString::fromUtf8(part)), part);
        }
        QVERIFY(box.rect().contains(box.text()->geometry()));
        QVERIFY(box.text()->geometry().bottom() < box.webLink()->geometry().top());
        QVERIFY(box.text()->heightForWidth(box.text()->width()) <= box.text()->height());
    }
};

QTEST_MAIN(WindowKeysTest)
#include "window_keys_test.moc"
