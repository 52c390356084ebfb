#include "tests/app/app_stores.h"

#include "app/folder_tree_view.h"
#include "app/report_list_view.h"

#include <QEventLoop>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace apptest {

void writeStore(const std::filesystem::path& path, const std::vector<std::u16string>& mailboxes,
                const std::vector<FolderSpec>& folders) {
    edbtest::StoreBuilder b;
    b.addPage(0); // the file header page
    if (!mailboxes.empty()) {
        edbtest::Page& p = b.page(b.addPage(21));
        std::size_t at = 100;
        for (std::size_t i = 0; i < mailboxes.size(); ++i) {
            at = edbtest::writeMailboxRecord(p, at, i % 2 == 0 ? 1 : 2, edbtest::makeId(i + 1),
                                             mailboxes[i]) +
                 20;
        }
    }
    std::vector<edbtest::FolderRecordSpec> specs;
    for (const FolderSpec& f : folders) {
        specs.push_back({edbtest::makeId(f.id), edbtest::makeId(f.parent), f.name, u"IPF.Note"});
    }
    if (!specs.empty()) {
        edbtest::addFolderPages(b, specs);
    }
    b.writeTo(path);
}

bool waitUntil(const std::function<bool()>& pred, int ms) {
    if (pred()) {
        return true;
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (pred()) {
            loop.quit();
        }
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    poll.start(2);
    loop.exec();
    return pred();
}

void Window::browse(const std::string& path, bool held) {
    fake.openFileAnswers.push_back(QString::fromStdString(path));
    dialog.setPauseScanAfterRows(held);
    QTest::mouseClick(dialog.browseButton(), Qt::LeftButton);
    if (held) {
        QVERIFY(waitUntil([&] { return dialog.mailboxList()->rowCount() > 0; }));
    } else {
        QVERIFY(waitUntil([&] { return !dialog.scanRunning(); }));
    }
    QVERIFY(waitIdle());
}

bool Window::waitIdle(int ms) {
    // Workers end once the window has served their requests; a held scan stays.
    return waitUntil([&] { return dialog.workersRunning() == (dialog.scanRunning() ? 1u : 0u); },
                     ms);
}

void Window::clickMailboxRow(int row) {
    edbapp::ReportListView* list = dialog.mailboxList();
    const QRect r = list->visualItemRect(list->item(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    QVERIFY(waitIdle());
}

void Window::clickMailboxEmptyArea() {
    edbapp::ReportListView* list = dialog.mailboxList();
    const QPoint p(10, list->viewport()->height() - 5);
    QVERIFY(list->itemAt(p) == nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, p);
    QVERIFY(waitIdle());
}

QTreeWidgetItem* Window::treeItem(const QString& path) const {
    const QStringList parts = path.split(QLatin1Char('/'));
    edbapp::FolderTreeView* tree = dialog.folderTree();
    QTreeWidgetItem* cur = nullptr;
    for (const QString& part : parts) {
        QTreeWidgetItem* found = nullptr;
        const int n = cur == nullptr ? tree->topLevelItemCount() : cur->childCount();
        for (int i = 0; i < n && found == nullptr; ++i) {
            QTreeWidgetItem* c = cur == nullptr ? tree->topLevelItem(i) : cur->child(i);
            if (c->text(0) == part) {
                found = c;
            }
        }
        if (found == nullptr) {
            return nullptr;
        }
        cur = found;
    }
    return cur;
}

bool Window::openFirstInbox(const std::string& store) {
    browse(store);
    clickMailboxRow(0);
    dialog.next();
    if (!waitIdle()) {
        return false;
    }
    dialog.folderTree()->expandAll();
    QTreeWidgetItem* root = dialog.folderTree()->topLevelItem(0);
    QTreeWidgetItem* inbox = root == nullptr ? nullptr : treeItem(root->text(0) + "/Inbox");
    if (inbox == nullptr) {
        return false;
    }
    // A click near the right end of the item: on the text, never on the check box.
    const QRect r = dialog.folderTree()->visualItemRect(inbox);
    QTest::mouseClick(dialog.folderTree()->viewport(), Qt::LeftButton, {},
                      QPoint(r.right() - 3, r.center().y()));
    return waitIdle();
}

} // namespace apptest
