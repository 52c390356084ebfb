// Renders the main window after a scan of the demo store, with a mailbox picked and a folder
// listed, the message viewer, the Find window and the About box, to PNG files for a reviewer
// (EDB_SCREENSHOT_DIR).
#include "app/about_dialog.h"
#include "app/find_window.h"
#include "app/folder_tree_view.h"
#include "app/message_viewer.h"
#include "app/report_list_view.h"
#include "resources/artwork.h"
#include "tests/app/app_stores.h"
#include "tests/support/demo_store.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

class ScreenshotTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        edb::initArtwork();
        QVERIFY(QDir().mkpath(QStringLiteral(EDB_SCREENSHOT_DIR)));
    }

    void mainWindowWithAFolderListed() {
        edbtest::TempFile store("demo");
        edbtest::writeDemoStore(store.path());
        apptest::Window w;
        w.browse(store.str());
        QVERIFY(w.dialog.mailboxList()->rowCount() > 0);
        w.clickMailboxRow(0);
        w.dialog.next();
        QVERIFY(w.waitIdle());
        QTreeWidgetItem* root = w.dialog.folderTree()->topLevelItem(0);
        QVERIFY(root != nullptr);
        w.dialog.folderTree()->expandAll();
        // Tick a folder so the marks show, then list the Inbox.
        QTreeWidgetItem* sent = w.treeItem(root->text(0) + QStringLiteral("/Sent Items"));
        QVERIFY(sent != nullptr);
        const QRect box = w.dialog.folderTree()->checkBoxRect(sent);
        QTest::mouseClick(w.dialog.folderTree()->viewport(), Qt::LeftButton, {}, box.center());
        QVERIFY(edbapp::FolderTreeView::isTicked(sent));
        QVERIFY(w.waitIdle());
        QTreeWidgetItem* inbox = w.treeItem(root->text(0) + QStringLiteral("/Inbox"));
        QVERIFY(inbox != nullptr);
        const QRect r = w.dialog.folderTree()->visualItemRect(inbox);
        QTest::mouseClick(w.dialog.folderTree()->viewport(), Qt::LeftButton, {},
                          QPoint(r.right() - 4, r.center().y()));
        QVERIFY(w.waitIdle());
        QVERIFY(w.dialog.messageList()->rowCount() > 0);
        const QString file = QStringLiteral(EDB_SCREENSHOT_DIR "/main-window.png");
        QVERIFY(w.dialog.grab().save(file));
    }

    void viewerAndFindWindow() {
        edbtest::TempFile store("demo");
        edbtest::writeDemoStore(store.path());
        apptest::Window w;
        QVERIFY(w.openFirstInbox(store.str()));
        // The first message of the Inbox: an HTML body and an attachment.
        const auto* first =
            reinterpret_cast<const edb::MessageEntry*>(w.dialog.messageList()->rowTag(0));
        QVERIFY(first != nullptr);
        edbapp::MessageViewer viewer(w.catalog, *first);
        viewer.resize(640, 420);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        viewer.attachments()->selectRow(0);
        QVERIFY(viewer.grab().save(QStringLiteral(EDB_SCREENSHOT_DIR "/message-viewer.png")));

        w.dialog.openFind();
        edbapp::FindWindow* find = w.dialog.findWindow();
        find->resize(860, 380);
        find->textEdit()->setText(QStringLiteral("invoice"));
        find->findButton()->click();
        QVERIFY(apptest::waitUntil([&] { return !find->searching(); }));
        QVERIFY(find->results()->rowCount() > 0);
        find->results()->selectRow(0);
        QVERIFY(QTest::qWaitForWindowExposed(find));
        QVERIFY(find->grab().save(QStringLiteral(EDB_SCREENSHOT_DIR "/find-window.png")));
    }

    void aboutBox() {
        edbapp::AboutDialog box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QVERIFY(box.grab().save(QStringLiteral(EDB_SCREENSHOT_DIR "/about-box.png")));
    }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
