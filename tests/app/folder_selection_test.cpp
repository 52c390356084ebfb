// The folder tree view's selection rules (ticks, marks), what a click on a folder lists, and
// Convert marking its folders converted, asking before writing them to the same place again.
#include "app/folder_tree_view.h"
#include "app/report_list_view.h"
#include "views/message_list.h"
#include "resources/artwork.h"
#include "tests/app/app_stores.h"
#include "tests/support/demo_store.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHeaderView>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <filesystem>
#include <set>

using apptest::Window;
using edbapp::FolderTreeView;

namespace {

// Ann (1): Inbox (10) { Sub1 (11), Sub2 (12) { Deep (14) } }, Sent Items (13). Bob (2): Notes.
void writeTickStore(const std::filesystem::path& path) {
    apptest::writeStore(path, {u"Ann", u"Bob"},
                        {{10, 1, u"Inbox"},
                         {11, 10, u"Sub1"},
                         {12, 10, u"Sub2"},
                         {13, 1, u"Sent Items"},
                         {14, 12, u"Deep"},
                         {20, 2, u"Notes"}});
}

// Picks the mailboxes at `rows` in turn and shows their trees expanded.
void pick(Window& w, std::initializer_list<int> rows) {
    for (int row : rows) {
        w.clickMailboxRow(row);
        w.dialog.next();
        QVERIFY(w.waitIdle());
    }
    w.dialog.folderTree()->expandAll();
}

// Writes the demo store to `store`, opens it and picks its first mailbox: that mailbox's name.
QString openDemoMailbox(Window& w, const edbtest::TempFile& store) {
    edbtest::writeDemoStore(store.path());
    w.browse(store.str());
    pick(w, {0});
    return w.dialog.folderTree()->topLevelItem(0)->text(0);
}

void clickCheckBox(Window& w, QTreeWidgetItem* item) {
    QVERIFY(item != nullptr);
    const QRect box = w.dialog.folderTree()->checkBoxRect(item);
    QVERIFY(box.isValid());
    QTest::mouseClick(w.dialog.folderTree()->viewport(), Qt::LeftButton, {}, box.center());
    QVERIFY(w.waitIdle());
}

void clickText(Window& w, QTreeWidgetItem* item) {
    QVERIFY(item != nullptr);
    const QRect r = w.dialog.folderTree()->visualItemRect(item);
    QTest::mouseClick(w.dialog.folderTree()->viewport(), Qt::LeftButton, {},
                      QPoint(r.right() - 3, r.center().y()));
    QVERIFY(w.waitIdle());
}

void pressSpace(Window& w, QTreeWidgetItem* item) {
    w.dialog.folderTree()->setCurrentItem(item);
    QTest::keyClick(w.dialog.folderTree(), Qt::Key_Space);
    QVERIFY(w.waitIdle());
}

// "t" ticked, "b" bold (marked), "-" neither, per item path.
QString state(Window& w, const QString& path) {
    QTreeWidgetItem* item = w.treeItem(path);
    if (item == nullptr) {
        return QStringLiteral("missing");
    }
    QString s;
    s += FolderTreeView::isTicked(item) ? QLatin1Char('t') : QLatin1Char('-');
    s += FolderTreeView::isMarked(item) ? QLatin1Char('b') : QLatin1Char('-');
    return s;
}

// The states of `paths`, and a line more when the session's ticks are not exactly the folders
// the view shows ticked (what Convert would write is not what the user sees).
QStringList states(Window& w, const QStringList& paths) {
    QStringList out;
    for (const QString& p : paths) {
        out << p + QLatin1Char('=') + state(w, p);
    }
    std::set<std::size_t> shown;
    for (QTreeWidgetItem* item : w.dialog.folderTree()->tickedItems()) {
        const std::size_t f =
            w.dialog.folderTree()->folderOf(w.dialog.folderTree()->handleOf(item));
        if (f != edb::kNoFolder) {
            shown.insert(f);
        }
    }
    if (shown != w.dialog.session().ticked()) {
        out << QStringLiteral("session ticks differ from the view's");
    }
    return out;
}

QStringList expect(const QStringList& paths, const QStringList& values) {
    QStringList out;
    for (int i = 0; i < paths.size(); ++i) {
        out << paths[i] + QLatin1Char('=') + values[i];
    }
    return out;
}

const QStringList kAll{
    "Ann",           "Ann/Inbox", "Ann/Inbox/Sub1", "Ann/Inbox/Sub2", "Ann/Inbox/Sub2/Deep",
    "Ann/Sent Items"};

std::size_t inSent(Window& w, const edb::FolderNode* node) {
    std::size_t n = 0;
    for (const edb::MessageEntry& m : w.catalog.messages) {
        n += m.folderId == node->id ? 1 : 0;
    }
    return n;
}

int countFiles(const QString& dir, const char* pattern) {
    int n = 0;
    for (QDirIterator it(dir, {QString::fromLatin1(pattern)}, QDir::Files,
                         QDirIterator::Subdirectories);
         it.hasNext(); it.next()) {
        ++n;
    }
    return n;
}

} // namespace

class FolderSelectionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { edb::initArtwork(); }

    void tickRulesAndMarks() {
        edbtest::TempFile store;
        writeTickStore(store.path());
        Window w;
        w.browse(store.str());
        pick(w, {0});
        // Ticking a folder ticks its subtree; its parent stays unticked but bold.
        clickCheckBox(w, w.treeItem("Ann/Inbox/Sub1"));
        QCOMPARE(states(w, kAll), expect(kAll, {"-b", "-b", "tb", "--", "--", "--"}));
        // Once every child is ticked, so is the parent.
        clickCheckBox(w, w.treeItem("Ann/Inbox/Sub2"));
        QCOMPARE(states(w, kAll), expect(kAll, {"-b", "tb", "tb", "tb", "tb", "--"}));
        // Ticking the last child of the mailbox ticks the root.
        clickCheckBox(w, w.treeItem("Ann/Sent Items"));
        QCOMPARE(state(w, "Ann"), QStringLiteral("tb"));
        // Unticking one subfolder of a fully ticked folder unticks it and every ancestor;
        // they stay bold because other children still are.
        clickCheckBox(w, w.treeItem("Ann/Inbox/Sub1"));
        QCOMPARE(states(w, kAll), expect(kAll, {"-b", "-b", "--", "tb", "tb", "tb"}));
        QVERIFY(w.fake.errors.isEmpty());
    }

    void unTickingTheOnlyTickedFolderClearsMarksToTheRoot() {
        edbtest::TempFile store;
        writeTickStore(store.path());
        Window w;
        w.browse(store.str());
        pick(w, {0});
        clickCheckBox(w, w.treeItem("Ann/Inbox/Sub2/Deep"));
        QCOMPARE(states(w, kAll), expect(kAll, {"-b", "-b", "--", "tb", "tb", "--"}));
        clickCheckBox(w, w.treeItem("Ann/Inbox/Sub2/Deep"));
        QCOMPARE(states(w, kAll), expect(kAll, {"--", "--", "--", "--", "--", "--"}));
        // A folder without subfolders changes only itself and its ancestors.
        clickCheckBox(w, w.treeItem("Ann/Sent Items"));
        QCOMPARE(states(w, kAll), expect(kAll, {"-b", "--", "--", "--", "--", "tb"}));
    }

    void spaceTogglesWithTheSameRules() {
        edbtest::TempFile store;
        writeTickStore(store.path());
        Window w;
        w.browse(store.str());
        pick(w, {0});
        pressSpace(w, w.treeItem("Ann/Inbox/Sub2"));
        QCOMPARE(states(w, kAll), expect(kAll, {"-b", "-b", "--", "tb", "tb", "--"}));
        pressSpace(w, w.treeItem("Ann/Inbox/Sub2"));
        QCOMPARE(states(w, kAll), expect(kAll, {"--", "--", "--", "--", "--", "--"}));
    }

    void emptySpaceClickChangesNothing() {
        edbtest::TempFile store;
        writeTickStore(store.path());
        Window w;
        w.browse(store.str());
        pick(w, {0});
        FolderTreeView* tree = w.dialog.folderTree();
        w.dialog.mailboxList()->setFocus();
        QTreeWidgetItem* before = tree->currentItem();
        const QPoint empty(tree->viewport()->width() - 3, tree->viewport()->height() - 3);
        QVERIFY(tree->itemAt(empty) == nullptr);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, empty);
        QVERIFY(w.waitIdle());
        QCOMPARE(tree->currentItem(), before);
        QVERIFY(!tree->hasFocus());
        QCOMPARE(w.dialog.state().shownFolderItem.load(), edb::TreeItem{0});
        QCOMPARE(states(w, kAll), expect(kAll, {"--", "--", "--", "--", "--", "--"}));
    }

    void clickingFoldersListsTheirMessages() {
        edbtest::TempFile store("demo");
        Window w;
        const QString root = openDemoMailbox(w, store);
        edbapp::ReportListView* list = w.dialog.messageList();

        // The mailbox's root belongs to no folder entry: the view is left empty.
        list->appendRow({"x"});
        clickText(w, w.treeItem(root));
        QCOMPARE(list->rowCount(), 0);
        QCOMPARE(list->horizontalHeaderItem(2)->text(), QStringLiteral("E-mail Subject"));

        QTreeWidgetItem* inbox = w.treeItem(root + "/Inbox");
        clickText(w, inbox);
        const edb::views::MessageListing expected = edb::views::ListMessages(
            w.dialog.catalog(),
            w.dialog.folderTree()->folderOf(w.dialog.folderTree()->handleOf(inbox)));
        QVERIFY(!expected.rows.empty());
        QCOMPARE(list->rowCount(), int(expected.rows.size()));
        QCOMPARE(list->item(0, 0)->text(), QStringLiteral("1"));
        QCOMPARE(list->item(0, 2)->text(), QString::fromStdString(expected.rows[0].cells[2]));
        QCOMPARE(list->horizontalHeaderItem(1)->text(), QStringLiteral("From"));

        // The folder already listed starts nothing (a new listing would empty the view first).
        list->item(0, 0)->setText(QStringLiteral("kept"));
        clickText(w, inbox);
        QCOMPARE(list->item(0, 0)->text(), QStringLiteral("kept"));

        // Two listings in a row: only the later one's rows are shown.
        QTreeWidgetItem* sent = w.treeItem(root + "/Sent Items");
        QTreeWidgetItem* contacts = w.treeItem(root + "/Contacts");
        QTest::mouseClick(w.dialog.folderTree()->viewport(), Qt::LeftButton, {},
                          w.dialog.folderTree()->visualItemRect(sent).center());
        QTest::mouseClick(w.dialog.folderTree()->viewport(), Qt::LeftButton, {},
                          w.dialog.folderTree()->visualItemRect(inbox).center());
        QTest::mouseClick(w.dialog.folderTree()->viewport(), Qt::LeftButton, {},
                          w.dialog.folderTree()->visualItemRect(contacts).center());
        QVERIFY(w.waitIdle());
        const edb::views::MessageListing last = edb::views::ListMessages(
            w.dialog.catalog(),
            w.dialog.folderTree()->folderOf(w.dialog.folderTree()->handleOf(contacts)));
        QCOMPARE(list->rowCount(), int(last.rows.size()));
        QCOMPARE(list->columnCount(), int(last.columns.size()));
        QCOMPARE(list->horizontalHeaderItem(1)->text(), QStringLiteral("Full name"));
    }

#ifdef EDB_HAVE_EXPORT_TESTS
    // One message of `folder` whose plain body lost its chunks: Convert notes it in the log.
    static const edb::FolderNode* loseOneBody(Window& w, QTreeWidgetItem* folder) {
        const edb::FolderNode* node = edb::FolderAt(
            w.catalog, w.dialog.folderTree()->folderOf(w.dialog.folderTree()->handleOf(folder)));
        for (edb::MessageEntry& m : w.catalog.messages) {
            if (node != nullptr && m.folderId == node->id) {
                w.catalog.messages.updateFields([&] {
                    m.primaryBody.position = 0;
                    m.primaryBody.reference = 0x7777;
                    m.primaryBody.chunks.clear();
                });
                break;
            }
        }
        return node;
    }

    void aLogThatCannotBeWrittenIsShownInTheSummary() {
        edbtest::TempFile store("demo");
        edbtest::writeDemoStore(store.path());
        edbtest::TempDir out;
        // A folder where the log goes: the log cannot be written, what it says must not be lost.
        std::filesystem::create_directory(out.path() / "export-log.txt");
        Window w;
        w.browse(store.str());
        pick(w, {0});
        const QString root = w.dialog.folderTree()->topLevelItem(0)->text(0);
        QTreeWidgetItem* sent = w.treeItem(root + "/Sent Items");
        clickCheckBox(w, sent);
        QVERIFY(loseOneBody(w, sent) != nullptr);
        w.fake.directoryAnswers = {QString::fromStdString(out.path().string())};
        w.fake.yesNoAnswers = {false};
        w.dialog.convert();
        QVERIFY(apptest::waitUntil([&] { return !w.dialog.converting(); }));
        QCOMPARE(w.fake.questions.size(), 1);
        const QString summary = w.fake.questions[0];
        QVERIFY2(summary.contains(QStringLiteral("The export log could not be written: ")) &&
                     summary.contains(QStringLiteral("a folder has its name")) &&
                     summary.contains(QStringLiteral("part missing")),
                 qPrintable(summary));
    }

    void convertMarksFoldersAndAsksBeforeWritingThemAgain() {
        edbtest::TempFile store("demo");
        edbtest::TempDir out;
        Window w;
        const QString root = openDemoMailbox(w, store);
        QTreeWidgetItem* sent = w.treeItem(root + "/Sent Items");
        clickCheckBox(w, sent);
        const edb::FolderNode* node = loseOneBody(w, sent);
        QVERIFY(node != nullptr);
        const QString outDir = QString::fromStdString(out.path().string());
        w.fake.directoryAnswers = {outDir};
        w.fake.yesNoAnswers = {true};
        w.dialog.convert();
        QVERIFY(apptest::waitUntil([&] { return !w.dialog.converting(); }));
        // The summary offers the output folder, and names the export log when there is one.
        QCOMPARE(w.fake.questions.size(), 1);
        const QString summary = w.fake.questions[0];
        QVERIFY2(summary.contains(QStringLiteral("saved")) &&
                     summary.endsWith(QStringLiteral("Open the output folder?")),
                 qPrintable(summary));
        const QString log = QDir(outDir).filePath(QStringLiteral("export-log.txt"));
        QVERIFY(QFile::exists(log));
        QVERIFY2(summary.contains(log), qPrintable(summary));
        QCOMPARE(w.fake.openedTargets, QStringList{outDir});
        int emls = 0;
        for (QDirIterator it(QString::fromStdString(out.path().string()), {"*.eml"}, QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext(); it.next()) {
            ++emls;
        }
        QVERIFY(emls > 0);
        // The converted folder lost its tick, is marked converted and lists like any other.
        QCOMPARE(state(w, root + "/Sent Items"), QStringLiteral("--"));
        QVERIFY(edbapp::FolderTreeView::isConverted(sent));
        QVERIFY(!edbapp::FolderTreeView::isConverted(w.treeItem(root + "/Inbox")));
        clickText(w, sent);
        QVERIFY(w.waitIdle());
        QVERIFY(w.fake.errors.isEmpty());
        QCOMPARE(w.dialog.messageList()->rowCount(), int(inSent(w, node)));
        QVERIFY(w.dialog.messageList()->rowCount() > 0);

        // The same destination again: asked first; No writes nothing.
        clickCheckBox(w, sent);
        QCOMPARE(state(w, root + "/Sent Items"), QStringLiteral("tb"));
        w.fake.questions.clear();
        w.fake.directoryAnswers = {outDir};
        w.fake.yesNoAnswers = {false};
        w.dialog.convert();
        QVERIFY(apptest::waitUntil([&] { return !w.dialog.converting(); }));
        QCOMPARE(w.fake.questions.size(), 1);
        QVERIFY2(w.fake.questions[0].contains(QStringLiteral("converted to this destination")) &&
                     w.fake.questions[0].contains(QStringLiteral("Sent Items")),
                 qPrintable(w.fake.questions[0]));
        QCOMPARE(countFiles(outDir, "*.eml"), emls);

        // Another destination takes it without a question, every message of it.
        edbtest::TempDir other;
        const QString otherDir = QString::fromStdString(other.path().string());
        w.fake.questions.clear();
        w.fake.directoryAnswers = {otherDir};
        w.fake.yesNoAnswers = {false}; // the summary's "Open the output folder?"
        w.dialog.convert();
        QVERIFY(apptest::waitUntil([&] { return !w.dialog.converting(); }));
        QCOMPARE(w.fake.questions.size(), 1);
        QVERIFY2(w.fake.questions[0].contains(QStringLiteral("in 1 folder(s)")),
                 qPrintable(w.fake.questions[0]));
        QCOMPARE(countFiles(otherDir, "*.eml"), int(inSent(w, node)));
        QCOMPARE(state(w, root + "/Sent Items"), QStringLiteral("--"));
    }

    void sameFoldersToEmlMboxAndPstWriteEveryMessageEachTime() {
        edbtest::TempFile store("demo");
        edbtest::writeDemoStore(store.path());
        edbtest::TempDir emlOut;
        edbtest::TempDir mboxOut;
        Window w;
        w.browse(store.str());
        pick(w, {0});
        const QString root = w.dialog.folderTree()->topLevelItem(0)->text(0);
        const QStringList names{root + "/Drafts", root + "/Sent Items"};
        std::size_t messages = 0;
        std::set<std::size_t> folders;
        for (const QString& name : names) {
            QTreeWidgetItem* item = w.treeItem(name);
            clickCheckBox(w, item);
            const std::size_t f =
                w.dialog.folderTree()->folderOf(w.dialog.folderTree()->handleOf(item));
            folders.insert(f);
            messages += inSent(w, edb::FolderAt(w.catalog, f));
        }
        QVERIFY(messages > 0);
        // The session holds what the view shows ticked, and Convert writes exactly that.
        QCOMPARE(w.dialog.session().ticked(), folders);

        // Converts the ticked folders to `kind` in `dir`: the one summary the window showed.
        auto convertTo = [&](edbapp::ConvertDestination::Kind kind, const QString& dir) {
            w.destinationKind = kind;
            w.fake.questions.clear();
            w.fake.directoryAnswers = {dir};
            w.fake.yesNoAnswers = {false}; // "Open the output folder?"
            w.dialog.convert();
            const bool ended = apptest::waitUntil([&] { return !w.dialog.converting(); });
            return ended && w.fake.questions.size() == 1 ? w.fake.questions[0] : QString();
        };
        const QString saved = QStringLiteral("%1 message(s) saved in 2 folder(s)").arg(messages);
        const QString emlDir = QString::fromStdString(emlOut.path().string());
        QString said = convertTo(edbapp::ConvertDestination::Kind::EmlFolder, emlDir);
        QVERIFY2(said.contains(saved), qPrintable(said));
        QCOMPARE(countFiles(emlDir, "*.eml"), int(messages));
        QVERIFY(w.dialog.session().ticked().empty());

        // The same folders again, to mbox: no question before writing, every message there.
        for (const QString& name : names) {
            QVERIFY(FolderTreeView::isConverted(w.treeItem(name)));
            clickCheckBox(w, w.treeItem(name));
        }
        QCOMPARE(w.dialog.session().ticked(), folders);
        const QString mboxDir = QString::fromStdString(mboxOut.path().string());
        said = convertTo(edbapp::ConvertDestination::Kind::Mbox, mboxDir);
        QVERIFY2(said.contains(saved), qPrintable(said));
        QCOMPARE(countFiles(mboxDir, "*.mbox"), 2);
        // Every message starts with a "From " line; ones inside bodies are quoted.
        int separators = 0;
        for (QDirIterator it(mboxDir, {QStringLiteral("*.mbox")}, QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext();) {
            QFile f(it.next());
            QVERIFY(f.open(QIODevice::ReadOnly));
            while (!f.atEnd()) {
                separators += f.readLine().startsWith("From ") ? 1 : 0;
            }
        }
        QCOMPARE(separators, int(messages));

        // And to PST: the mailbox's one file, every message counted, the file's magic at its
        // start (readers check its contents in the PST tests).
        edbtest::TempDir pstOut;
        for (const QString& name : names) {
            clickCheckBox(w, w.treeItem(name));
        }
        const QString pstDir = QString::fromStdString(pstOut.path().string());
        said = convertTo(edbapp::ConvertDestination::Kind::Pst, pstDir);
        QVERIFY2(said.contains(saved), qPrintable(said));
        const QStringList psts = QDir(pstDir).entryList({QStringLiteral("*.pst")}, QDir::Files);
        QCOMPARE(psts.size(), 1);
        QFile pst(QDir(pstDir).filePath(psts[0]));
        QVERIFY(pst.open(QIODevice::ReadOnly));
        QCOMPARE(pst.read(4), QByteArray("!BDN"));
        QVERIFY(w.fake.errors.isEmpty());
    }

    void cancelledConvertCountsWhatWasWrittenAndKeepsTheTicks() {
        edbtest::TempFile store("demo");
        edbtest::TempDir out;
        Window w;
        const QString root = openDemoMailbox(w, store);
        const QStringList names{root + "/Drafts", root + "/Sent Items"};
        std::size_t total = 0;
        for (const QString& name : names) {
            QTreeWidgetItem* item = w.treeItem(name);
            clickCheckBox(w, item);
            total +=
                inSent(w, edb::FolderAt(w.catalog, w.dialog.folderTree()->folderOf(
                                                       w.dialog.folderTree()->handleOf(item))));
        }
        const QString outDir = QString::fromStdString(out.path().string());
        w.fake.directoryAnswers = {outDir};
        w.fake.yesNoAnswers = {false};
        w.dialog.convert();
        // The work waits for the window to show each report; two messages in, Cancel: the
        // first folder is cut off half way, the second never begun.
        auto* progress = w.dialog.findChild<QProgressDialog*>();
        QVERIFY(progress != nullptr);
        const QSize size = progress->size();
        QVERIFY(apptest::waitUntil([&] {
            const QRegularExpressionMatch done =
                QRegularExpression(QStringLiteral("\\((\\d+) of")).match(progress->labelText());
            return done.hasMatch() && done.captured(1).toInt() >= 2;
        }));
        QCOMPARE(progress->size(), size); // its label changed; Cancel stays where it was
        auto* cancel = progress->findChild<QPushButton*>();
        QVERIFY(cancel != nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(apptest::waitUntil([&] { return !w.dialog.converting(); }));
        QCOMPARE(w.fake.questions.size(), 1);
        const QString summary = w.fake.questions[0];
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^(\\d+) message\\(s\\) saved in (\\d+) folder"))
                .match(summary);
        QVERIFY2(m.hasMatch(), qPrintable(summary));
        const int saved = m.captured(1).toInt();
        QVERIFY(saved >= 2 && std::size_t(saved) < total);
        QCOMPARE(countFiles(outDir, "*.eml"), saved);
        // Folders that received a message are counted, whether or not they were finished.
        int foldersWithFiles = 0;
        for (QDirIterator it(outDir, QDir::Dirs | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
             it.hasNext();) {
            foldersWithFiles +=
                QDir(it.next()).entryList({QStringLiteral("*.eml")}, QDir::Files).isEmpty() ? 0 : 1;
        }
        QCOMPARE(m.captured(2).toInt(), foldersWithFiles);
        QVERIFY2(summary.contains(
                     QStringLiteral("Cancelled: %1 message(s) not saved.").arg(total - saved)),
                 qPrintable(summary));
        // Nothing was converted whole: both stay ticked, none is marked converted.
        for (const QString& name : names) {
            QCOMPARE(state(w, name), QStringLiteral("tb"));
            QVERIFY(!FolderTreeView::isConverted(w.treeItem(name)));
        }
        QCOMPARE(w.dialog.session().ticked().size(), std::size_t(2));
    }

    void convertShowsTicksInClosedBranchesFirst() {
        edbtest::TempFile store;
        writeTickStore(store.path());
        Window w;
        w.browse(store.str());
        pick(w, {0});
        clickCheckBox(w, w.treeItem("Ann/Inbox/Sub2/Deep"));
        QTreeWidgetItem* inbox = w.treeItem("Ann/Inbox");
        w.treeItem("Ann/Inbox/Sub2")->setExpanded(false);
        inbox->setExpanded(false);
        w.dialog.convert(); // the chooser answers nothing: nothing is written
        QVERIFY(!w.dialog.converting());
        QVERIFY(inbox->isExpanded());
        QVERIFY(w.treeItem("Ann/Inbox/Sub2")->isExpanded());
    }
#endif

    void convertWithNothingTickedAsks() {
        edbtest::TempFile store;
        writeTickStore(store.path());
        Window w;
        w.browse(store.str());
        pick(w, {0});
        w.dialog.convert();
        QVERIFY(w.fake.log.filter(QStringLiteral("directory:")).isEmpty());
        QCOMPARE(w.fake.informations.size(), 1);
    }
};

QTEST_MAIN(FolderSelectionTest)
#include "folder_selection_test.moc"
