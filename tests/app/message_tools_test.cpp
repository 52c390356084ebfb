// The message list's tools on the demo store: sorting by a heading, tooltips of cut cells, the
// right-click menus, the message viewer and the Find window.
#include "app/destination_dialog.h"
#include "app/find_window.h"
#include "app/folder_tree_view.h"
#include "app/message_viewer.h"
#include "app/report_list_view.h"
#include "views/message_list.h"
#include "mime/eml_headers.h"
#include "content/message_content.h"
#include "views/message_search.h"
#include "resources/artwork.h"
#include "tests/app/app_stores.h"
#include "tests/support/demo_store.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QWindow>

using apptest::Window;

namespace {

// The demo store scanned, its first mailbox picked and its Inbox listed.
struct InboxWindow {
    edbtest::TempFile store{"demo"};
    Window w;
    InboxWindow() {
        edbtest::writeDemoStore(store.path());
        QVERIFY(w.openFirstInbox(store.str()));
    }
    [[nodiscard]] edbapp::ReportListView* list() const { return w.dialog.messageList(); }
};

QStringList column(const edbapp::ReportListView* list, int c) {
    QStringList out;
    for (int r = 0; r < list->rowCount(); ++r) {
        out << list->item(r, c)->text();
    }
    return out;
}

const edb::MessageEntry* entryOf(const edbapp::ReportListView* list, int row) {
    return reinterpret_cast<const edb::MessageEntry*>(list->rowTag(row));
}

// Right-clicks at `pos` in `viewport` and triggers the menu item `choose` (none: closes the
// menu); returns the menu's item texts, or {"no menu"}.
QStringList rightClick(QWidget* viewport, QPoint pos, const QString& choose = {}) {
    QStringList items{QStringLiteral("no menu")};
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            return;
        }
        items.clear();
        QAction* chosen = nullptr;
        for (QAction* a : menu->actions()) {
            items << a->text();
            if (a->text() == choose) {
                chosen = a;
            }
        }
        menu->close();
        if (chosen != nullptr) {
            chosen->trigger();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
    QCoreApplication::sendEvent(viewport, &event);
    return items;
}

std::string readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

void clickHeading(edbapp::ReportListView* list, int c) {
    QHeaderView* h = list->horizontalHeader();
    const int x = h->sectionViewportPosition(c) + h->sectionSize(c) / 2;
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(x, h->height() / 2));
}

} // namespace

class MessageToolsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { edb::initArtwork(); }

    void headingsSortAndNoRestoresTheListOrder() {
        InboxWindow iw;
        edbapp::ReportListView* list = iw.list();
        QVERIFY(list->rowCount() > 5);
        const QStringList listOrder = column(list, 0);
        const QStringList subjects = column(list, 2);

        clickHeading(list, 2);
        QStringList sorted = subjects;
        std::sort(sorted.begin(), sorted.end(),
                  [](const QString& a, const QString& b) { return a.localeAwareCompare(b) < 0; });
        QCOMPARE(column(list, 2), sorted);
        clickHeading(list, 2); // again: the other way round
        std::reverse(sorted.begin(), sorted.end());
        QCOMPARE(column(list, 2), sorted);
        QCOMPARE(list->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

        clickHeading(list, 3); // by time, not by the date text
        for (int r = 1; r < list->rowCount(); ++r) {
            const auto* a = reinterpret_cast<const edb::MessageEntry*>(list->rowTag(r - 1));
            const auto* b = reinterpret_cast<const edb::MessageEntry*>(list->rowTag(r));
            QVERIFY(a->filetime <= b->filetime);
        }

        clickHeading(list, 0);
        QCOMPARE(column(list, 0), listOrder);
        QCOMPARE(column(list, 2), subjects);
        QVERIFY(!list->horizontalHeader()->isSortIndicatorShown());
        // Double clicks still do nothing of their own.
        const QRect cell = list->visualItemRect(list->item(1, 2));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(column(list, 0), listOrder);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void cutCellsShowTheirTextAsTooltipAndDatesFit() {
        InboxWindow iw;
        edbapp::ReportListView* list = iw.list();
        // The date column holds its longest text.
        const int dateWidth = list->columnWidth(3);
        for (int r = 0; r < list->rowCount(); ++r) {
            QVERIFY2(iw.list()->cutCellText(r, 3).isEmpty(), qPrintable(list->item(r, 3)->text()));
        }
        QVERIFY(dateWidth >= list->fontMetrics().horizontalAdvance(
                                 QStringLiteral("Wed 28/12/2024 12:59:59 PM")));
        list->setColumnWidth(2, 30);
        const QRect cell = list->visualItemRect(list->item(0, 2));
        QHelpEvent tip(QEvent::ToolTip, cell.center(),
                       list->viewport()->mapToGlobal(cell.center()));
        QCoreApplication::sendEvent(list->viewport(), &tip);
        QVERIFY(apptest::waitUntil([] { return QToolTip::isVisible(); }, 2000));
        QCOMPARE(QToolTip::text(), list->item(0, 2)->text());
        // A cell that fits shows none.
        const QRect number = list->visualItemRect(list->item(0, 0));
        QHelpEvent none(QEvent::ToolTip, number.center(),
                        list->viewport()->mapToGlobal(number.center()));
        QCoreApplication::sendEvent(list->viewport(), &none);
        QVERIFY(apptest::waitUntil([] { return !QToolTip::isVisible(); }, 2000));
    }

    void messageAndFolderMenus() {
        InboxWindow iw;
        Window& w = iw.w;
        edbapp::ReportListView* list = iw.list();
        const QRect cell = list->visualItemRect(list->item(0, 2));
        edbtest::TempDir out;
        const QString emlPath =
            QDir(QString::fromStdString(out.path().string())).filePath(QStringLiteral("saved.eml"));
        w.fake.saveFileAnswers = {emlPath};
        QCOMPARE(rightClick(list->viewport(), cell.center(), QStringLiteral("Save as EML...")),
                 (QStringList{"View Message...", "Save as EML..."}));
        // The file is the message as Convert writes it.
        const edb::MessageEntry* first = entryOf(list, 0);
        QCOMPARE(w.fake.suggestedNames.value(0),
                 QString::fromStdString(first->subject) + QStringLiteral(".eml"));
        const std::string expected = edb::conv::RenderMessageEml(
            w.catalog, *first, edb::conv::MessageFolderPath(w.catalog, *first));
        QCOMPARE(readFile(emlPath), expected);

        // A folder converts alone, ticked or not; a mailbox root has no menu.
        edbapp::FolderTreeView* tree = w.dialog.folderTree();
        QTreeWidgetItem* root = tree->topLevelItem(0);
        QCOMPARE(rightClick(tree->viewport(), tree->visualItemRect(root).center()),
                 QStringList{"no menu"});
        QTreeWidgetItem* sent = w.treeItem(root->text(0) + QStringLiteral("/Sent Items"));
        w.fake.directoryAnswers = {QString::fromStdString(out.path().string())};
        QCOMPARE(rightClick(tree->viewport(), tree->visualItemRect(sent).center(),
                            QStringLiteral("Convert This Folder...")),
                 QStringList{"Convert This Folder..."});
        QVERIFY(apptest::waitUntil([&] { return !w.dialog.converting(); }));
        int emls = 0;
        for (QDirIterator it(QString::fromStdString(out.path().string()), {"*.eml"}, QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext(); it.next()) {
            ++emls;
        }
        const edb::FolderNode* node =
            edb::FolderAt(w.catalog, tree->folderOf(tree->handleOf(sent)));
        QVERIFY(node != nullptr);
        std::size_t inSent = 0;
        for (const edb::MessageEntry& m : w.catalog.messages) {
            inSent += m.folderId == node->id ? 1 : 0;
        }
        QCOMPARE(emls, int(inSent) + 1); // and the one saved above
        QVERIFY(edbapp::FolderTreeView::isConverted(sent));
        // Once more to the same folder: asked first, and Yes writes it again.
        w.fake.directoryAnswers = {QString::fromStdString(out.path().string())};
        w.fake.yesNoAnswers = {true, false};
        w.fake.questions.clear();
        rightClick(tree->viewport(), tree->visualItemRect(sent).center(),
                   QStringLiteral("Convert This Folder..."));
        QVERIFY(apptest::waitUntil([&] { return !w.dialog.converting(); }));
        QVERIFY(w.fake.errors.isEmpty());
        QCOMPARE(w.fake.questions.size(), 2);
        QVERIFY(w.fake.questions[0].contains(QStringLiteral("Write them again?")));
    }

    void viewerShowsHeadersHtmlAttachmentsAndNotes() {
        InboxWindow iw;
        Window& w = iw.w;
        edbapp::ReportListView* list = iw.list();
        // The demo's first message of a folder has an HTML body and one attachment.
        const QRect cell = list->visualItemRect(list->item(0, 2));
        rightClick(list->viewport(), cell.center(), QStringLiteral("View Message..."));
        auto* viewer = w.dialog.findChild<edbapp::MessageViewer*>();
        QVERIFY(viewer != nullptr && viewer->isVisible());
        const edb::MessageEntry* m = entryOf(list, 0);
        QCOMPARE(viewer->subjectLabel()->text(), QString::fromStdString(m->subject));
        // The sender's name as the file's From says it (no group punctuation).
        QVERIFY2(viewer->fromLabel()->text().startsWith(QString::fromStdString(m->sender)) &&
                     !viewer->fromLabel()->text().endsWith(QLatin1Char(';')),
                 qPrintable(viewer->fromLabel()->text()));
        QVERIFY(viewer->dateLabel()->text().contains(QStringLiteral("20")));
        QVERIFY(viewer->showsHtml());
        QCOMPARE(viewer->body()->toPlainText(), QStringLiteral("This is message 1."));
        QCOMPARE(viewer->attachments()->rowCount(), int(m->attachments.size()));
        QCOMPARE(viewer->attachments()->item(0, 0)->text(),
                 QString::fromStdString(m->attachments[0].name));
        const auto& bytes = viewer->content().eml.attachments.at(0).bytes;
        QCOMPARE(viewer->attachments()->item(0, 1)->text(), edbapp::SizeText(bytes.size()));
        QVERIFY(!viewer->notes()->isVisible());
        // Save... writes the attachment's bytes.
        edbtest::TempDir out;
        const QString path =
            QDir(QString::fromStdString(out.path().string())).filePath(QStringLiteral("a.bin"));
        w.fake.saveFileAnswers = {path};
        viewer->saveButton()->click();
        QCOMPARE(readFile(path), std::string(bytes.begin(), bytes.end()));
        // Nothing is fetched for the body: not a remote picture, not a local file.
        edbapp::SealedBrowser sealed;
        sealed.setHtml(QStringLiteral("<p>x<img src=\"http://127.0.0.1:9/p.png\">"
                                      "<img src=\"file:///etc/hostname\"></p>"));
        sealed.resize(200, 100);
        (void)sealed.grab(); // pictures are asked for when laid out
        QVERIFY(sealed.blockedLoads() >= 2);

        // A body whose long value lost its chunks is named in the notes.
        auto* broken = const_cast<edb::MessageEntry*>(entryOf(list, 1));
        w.catalog.messages.updateFields([&] {
            broken->primaryBody.position = 0;
            broken->primaryBody.reference = 0x7777;
            broken->primaryBody.chunks.clear();
        });
        edbapp::MessageViewer second(w.catalog, *broken);
        second.show();
        QVERIFY(second.notes()->isVisible());
        QVERIFY2(second.notes()->text().contains(QStringLiteral("plain body")),
                 qPrintable(second.notes()->text()));
    }

    void secondaryWindowsFitTheSmallScreenTheyOpenOn() {
        edbtest::TempFile store("demo");
        edbtest::writeDemoStore(store.path());
        Window w;
        w.browse(store.str());
        QScreen* small = QGuiApplication::screens().at(1);
        w.dialog.windowHandle()->setScreen(small);
        w.dialog.move(small->geometry().topLeft());
        const QRect area = small->availableGeometry();
        const auto inside = [&](const QWidget* win) {
            return area.contains(QRect(win->pos(), win->size()));
        };
        QTest::keyClick(&w.dialog, Qt::Key_F, Qt::ControlModifier);
        edbapp::FindWindow* find = w.dialog.findWindow();
        QVERIFY(find != nullptr);
        QVERIFY2(inside(find), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                              .arg(find->x())
                                              .arg(find->y())
                                              .arg(find->width())
                                              .arg(find->height())));
        find->close();
        w.dialog.viewMessage(&*w.catalog.messages.begin());
        auto* viewer = w.dialog.findChild<edbapp::MessageViewer*>();
        QVERIFY(viewer != nullptr);
        QVERIFY(inside(viewer));
        viewer->close();

        // The destination dialog keeps one layout whatever Test connection answers.
        edbapp::DestinationDialog destination(&w.dialog);
        destination.show();
        QVERIFY(inside(&destination));
        auto* url = destination.findChild<QLineEdit*>(QStringLiteral("url"));
        auto* status = destination.findChild<QLabel*>(QStringLiteral("status"));
        QVERIFY(url != nullptr && status != nullptr);
        const QSize size = destination.size();
        const QRect field = url->geometry();
        status->setText(QStringLiteral("Could not connect to imap.example.com port 143: the "
                                       "server answered with an error that runs on and on over "
                                       "many words, as some servers do when they refuse a login"));
        QApplication::processEvents();
        QCOMPARE(destination.size(), size);
        QCOMPARE(url->geometry(), field);
    }

    void findListsMatchesOfEveryMailboxAsFoundAndOpensTheViewer() {
        edbtest::TempFile store("demo");
        edbtest::writeDemoStore(store.path());
        Window w;
        w.browse(store.str()); // no mailbox picked with Next
        QTest::keyClick(&w.dialog, Qt::Key_F, Qt::ControlModifier);
        edbapp::FindWindow* find = w.dialog.findWindow();
        QVERIFY(find != nullptr && find->isVisible());
        find->textEdit()->setText(QStringLiteral("re:"));
        QTest::mouseClick(find->findButton(), Qt::LeftButton);
        // A session task while it runs (so ending the run stops it), and no longer after.
        QVERIFY(w.dialog.session().running(edb::session::Task::Find));
        QVERIFY(apptest::waitUntil([&] { return !find->searching(); }));
        QVERIFY(!w.dialog.session().running(edb::session::Task::Find));
        edbapp::ReportListView* results = find->results();
        // Every message whose sender or subject holds the text, in list order.
        QStringList expected;
        for (const edb::MessageEntry& m : w.catalog.messages) {
            if (m.kind != edb::kKindContact &&
                (QString::fromStdString(m.subject).contains("re:", Qt::CaseInsensitive) ||
                 QString::fromStdString(m.sender).contains("re:", Qt::CaseInsensitive))) {
                expected << QString::fromStdString(m.subject);
            }
        }
        QVERIFY(expected.size() > 3);
        QCOMPARE(column(results, 3), expected);
        QSet<QString> mailboxes;
        for (int r = 0; r < results->rowCount(); ++r) {
            mailboxes.insert(results->item(r, 0)->text());
            QVERIFY(results->item(r, 1)->text().startsWith(results->item(r, 0)->text() + "\\"));
            QVERIFY(!results->item(r, 1)->text().endsWith("\\"));
        }
        QVERIFY(mailboxes.size() >= 2);
        QVERIFY(find->statusLabel()->text().startsWith(QString::number(expected.size())));

        // A date range narrows the results to messages within it (the To day included).
        const edb::MessageEntry* pivot = entryOf(results, 0);
        const QDateTime when = QDateTime::fromSecsSinceEpoch(
            static_cast<qint64>(pivot->filetime / 10'000'000 - 11'644'473'600LL));
        find->fromCheck()->setChecked(true);
        find->fromDate()->setDate(when.date());
        find->toCheck()->setChecked(true);
        find->toDate()->setDate(when.date());
        find->startSearch();
        QVERIFY(apptest::waitUntil([&] { return !find->searching(); }));
        QVERIFY(results->rowCount() >= 1 && results->rowCount() < expected.size());
        for (int r = 0; r < results->rowCount(); ++r) {
            const auto t = QDateTime::fromSecsSinceEpoch(
                static_cast<qint64>(entryOf(results, r)->filetime / 10'000'000 - 11'644'473'600LL));
            QCOMPARE(t.date(), when.date());
        }

        // A chosen result opens the viewer.
        results->selectRow(0);
        find->viewButton()->click();
        auto* viewer = w.dialog.findChild<edbapp::MessageViewer*>();
        QVERIFY(viewer != nullptr);
        QCOMPARE(viewer->subjectLabel()->text(), results->item(0, 3)->text());
    }
};

QTEST_MAIN(MessageToolsTest)
#include "message_tools_test.moc"
