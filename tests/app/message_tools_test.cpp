// The message list's tools on the demo store: sorting by a heading, tooltips of cut cells, the
// right-click menus, the message viewer and the Find window.
#include "app/folder_tree_view.h"
#include "app/report_list_view.h"
#include "message/list_rows.h"
#include "resources/artwork.h"
#include "tests/app/app_stores.h"
#include "tests/support/demo_store.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>

using apptest::Window;

namespace {

// The demo store scanned, its first mailbox picked and its Inbox listed.
struct InboxWindow {
    edbtest::TempFile store{"demo"};
    Window w;
    InboxWindow() {
        edbtest::writeDemoStore(store.path());
        w.browse(store.str());
        w.clickMailboxRow(0);
        w.dialog.next();
        QVERIFY(w.waitIdle());
        w.dialog.folderTree()->expandAll();
        QTreeWidgetItem* root = w.dialog.folderTree()->topLevelItem(0);
        QTreeWidgetItem* inbox = w.treeItem(root->text(0) + QStringLiteral("/Inbox"));
        QVERIFY(inbox != nullptr);
        const QRect r = w.dialog.folderTree()->visualItemRect(inbox);
        QTest::mouseClick(w.dialog.folderTree()->viewport(), Qt::LeftButton, {},
                          QPoint(r.right() - 3, r.center().y()));
        QVERIFY(w.waitIdle());
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
};

QTEST_MAIN(MessageToolsTest)
#include "message_tools_test.moc"
