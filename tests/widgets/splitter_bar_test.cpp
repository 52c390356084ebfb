#include "widgets/control_id.h"
#include "widgets/splitter_bar.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using edb::CSplitterBar;

namespace {

void sendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Press on the bar, move to the given point of the parent, release there.
void drag(CSplitterBar* bar, QPoint toInParent) {
    const QPoint onBar(2, 10);
    sendMouse(bar, QEvent::MouseButtonPress, onBar, Qt::LeftButton);
    const QPoint to = bar->mapFromGlobal(bar->parentWidget()->mapToGlobal(toInParent));
    sendMouse(bar, QEvent::MouseMove, to, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

struct Dialog {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    CSplitterBar* bar = new CSplitterBar;

    explicit Dialog(QPoint at = {100, 100}, QRect barRect = {200, 50, 3, 140}) {
        window->resize(600, 400);
        window->move(at);
        bar->Create(barRect, window.get(), 1026);
        window->show();
    }
};

} // namespace

class SplitterBarTest : public QObject {
    Q_OBJECT

private slots:
    void creationRectangleGivesOrientationAndThickness_data() {
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("3x140 vertical")
            << QRect(141, 201, 3, 140) << CSplitterBar::SPLIT_VERTICAL << QRect(141, 201, 5, 140);
        QTest::newRow("140x3 horizontal")
            << QRect(10, 20, 140, 3) << CSplitterBar::SPLIT_HORIZONTAL << QRect(10, 20, 140, 5);
        QTest::newRow("square is horizontal")
            << QRect(10, 20, 30, 30) << CSplitterBar::SPLIT_HORIZONTAL << QRect(10, 20, 30, 5);
        QTest::newRow("wide thin bar grows to 5")
            << QRect(0, 0, 1, 2) << CSplitterBar::SPLIT_VERTICAL << QRect(0, 0, 5, 2);
    }
    void creationRectangleGivesOrientationAndThickness() {
        QFETCH(QRect, rect);
        QFETCH(int, orientation);
        QFETCH(QRect, geometry);
        QWidget parent;
        auto* bar = new CSplitterBar;
        bar->Create(rect, &parent, 1026);
        QCOMPARE(bar->orientation(), orientation);
        QCOMPARE(bar->geometry(), geometry);
        QCOMPARE(bar->parentWidget(), &parent);
        QCOMPARE(edb::findControl(&parent, 1026), bar);
        QCOMPARE(bar->cursor().shape(), orientation == CSplitterBar::SPLIT_VERTICAL
                                            ? Qt::SizeHorCursor
                                            : Qt::SizeVerCursor);
    }

    void rangeIsMeasuredInParentCoordinatesWhereverTheParentLies_data() {
        QTest::addColumn<QPoint>("parentAt");
        QTest::newRow("origin") << QPoint(0, 0);
        QTest::newRow("right and down") << QPoint(350, 220);
        QTest::newRow("left of the screen") << QPoint(-500, 40);
    }
    void rangeIsMeasuredInParentCoordinatesWhereverTheParentLies() {
        QFETCH(QPoint, parentAt);
        Dialog d(parentAt);
        d.bar->SetRange(50, 500);
        // Centre of a bar at 200 with width 5.
        QCOMPARE(d.bar->minimum(), 152);
        QCOMPARE(d.bar->maximum(), 702);
        QSignalSpy moved(d.bar, &CSplitterBar::SplitterMoved);

        drag(d.bar, {-1000, 60});
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.takeFirst().at(0).toInt(), -50);
        QCOMPARE(d.bar->geometry(), QRect(150, 50, 5, 140));

        // The range stays where it was set; the bar's own move does not shift it.
        drag(d.bar, {5000, 60});
        QCOMPARE(moved.takeFirst().at(0).toInt(), 550);
        QCOMPARE(d.bar->geometry(), QRect(700, 50, 5, 140));
    }

    void dragLineFollowsThePointerInsideTheLimits() {
        Dialog d({40, 30});
        d.bar->SetRange(50, 100);
        sendMouse(d.bar, QEvent::MouseButtonPress, {1, 5}, Qt::LeftButton);
        const QPoint parentOrigin = d.window->mapToGlobal(QPoint(0, 0));
        QVERIFY(d.bar->isDragging());
        QCOMPARE(d.bar->shownDragLines().size(), 1);
        QCOMPARE(d.bar->shownDragLines().at(0).x(), parentOrigin.x() + 202);

        sendMouse(d.bar, QEvent::MouseMove, {60, 5}, Qt::LeftButton);
        QCOMPARE(d.bar->shownDragLines().size(), 1);
        QCOMPARE(d.bar->shownDragLines().at(0).x(), parentOrigin.x() + 260);

        sendMouse(d.bar, QEvent::MouseMove, {900, 5}, Qt::LeftButton);
        QCOMPARE(d.bar->shownDragLines().at(0).x(), parentOrigin.x() + 302);

        sendMouse(d.bar, QEvent::MouseButtonRelease, {900, 5}, Qt::NoButton);
        QVERIFY(!d.bar->isDragging());
        QVERIFY(d.bar->shownDragLines().isEmpty());
    }

    void dragLineLeavesNoTrace() {
        Dialog d;
        d.bar->SetRange(50, 100);
        QVERIFY(QTest::qWaitForWindowExposed(d.window.get()));
        const QImage before = d.window->grab().toImage();
        sendMouse(d.bar, QEvent::MouseButtonPress, {2, 5}, Qt::LeftButton);
        sendMouse(d.bar, QEvent::MouseMove, {-30, 5}, Qt::LeftButton);
        const QImage during = d.window->grab().toImage();
        QVERIFY(during != before);
        // Drawn inverted over the background: two 1-pixel columns either side of x = 170.
        QVERIFY(during.pixel(169, 100) != before.pixel(169, 100));
        QVERIFY(during.pixel(171, 100) != before.pixel(171, 100));
        QCOMPARE(during.pixel(170, 100), before.pixel(170, 100));
        QCOMPARE(during.pixel(168, 100), before.pixel(168, 100));
        // Moving the line back and forth leaves nothing behind.
        sendMouse(d.bar, QEvent::MouseMove, {40, 5}, Qt::LeftButton);
        sendMouse(d.bar, QEvent::MouseMove, {2, 5}, Qt::LeftButton);
        sendMouse(d.bar, QEvent::MouseButtonRelease, {2, 5}, Qt::NoButton);
        QCOMPARE(d.window->grab().toImage(), before);
    }

    void clickWithoutMovementReportsZero() {
        Dialog d;
        d.bar->SetRange(50, 500);
        QSignalSpy moved(d.bar, &CSplitterBar::SplitterMoved);
        sendMouse(d.bar, QEvent::MouseButtonPress, {3, 70}, Qt::LeftButton);
        sendMouse(d.bar, QEvent::MouseButtonRelease, {3, 70}, Qt::NoButton);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.at(0).at(0).toInt(), 0);
        QCOMPARE(d.bar->geometry(), QRect(200, 50, 5, 140));
    }

    void withoutRangeTheBarCannotLeaveItsCentre() {
        Dialog d;
        QSignalSpy moved(d.bar, &CSplitterBar::SplitterMoved);
        drag(d.bar, {20, 60});
        drag(d.bar, {580, 60});
        QCOMPARE(moved.count(), 2);
        QCOMPARE(moved.at(0).at(0).toInt(), 0);
        QCOMPARE(moved.at(1).at(0).toInt(), 0);
        QCOMPARE(d.bar->geometry(), QRect(200, 50, 5, 140));
    }

    void pointerMovementWithoutPressChangesNothing() {
        Dialog d;
        d.bar->SetRange(50, 500);
        QSignalSpy moved(d.bar, &CSplitterBar::SplitterMoved);
        sendMouse(d.bar, QEvent::MouseMove, {100, 5}, Qt::NoButton);
        sendMouse(d.bar, QEvent::MouseButtonRelease, {100, 5}, Qt::NoButton);
        QCOMPARE(moved.count(), 0);
        QVERIFY(d.bar->shownDragLines().isEmpty());
        QCOMPARE(d.bar->geometry(), QRect(200, 50, 5, 140));
    }

    void horizontalBarMovesUpAndDown() {
        Dialog d({10, 10}, {20, 100, 300, 3});
        d.bar->SetRange(30, 40);
        QCOMPARE(d.bar->minimum(), 102 - 30);
        QSignalSpy moved(d.bar, &CSplitterBar::SplitterMoved);
        // Both coordinates are clamped into the same limits; x = 90 lies inside them.
        drag(d.bar, {90, 10});
        QCOMPARE(moved.takeFirst().at(0).toInt(), -30);
        QCOMPARE(d.bar->geometry(), QRect(20, 70, 300, 5));
        drag(d.bar, {90, 118});
        QCOMPARE(moved.takeFirst().at(0).toInt(), 46);
        QCOMPARE(d.bar->geometry(), QRect(20, 116, 300, 5));
    }

    void rangeWithExplicitRoot() {
        Dialog d;
        d.bar->SetRange(10, 20, 300);
        QCOMPARE(d.bar->minimum(), 290);
        QCOMPARE(d.bar->maximum(), 320);
        QSignalSpy moved(d.bar, &CSplitterBar::SplitterMoved);
        drag(d.bar, {0, 60});
        // The start is the bar's centre (202), the line stops at the lower limit.
        QCOMPARE(moved.takeFirst().at(0).toInt(), 88);
    }

    void moveToCentresTheBarOnThePoint() {
        Dialog d;
        d.bar->MoveTo({100, 999});
        QCOMPARE(d.bar->geometry(), QRect(98, 50, 5, 140));
    }

    void changeWidthFollowsTheAnchor_data() {
        QTest::addColumn<int>("delta");
        QTest::addColumn<int>("anchor");
        QTest::addColumn<QRect>("expected");
        const QRect start(100, 10, 200, 50);
        QTest::newRow("from left, wider")
            << 30 << CSplitterBar::WIDTH_FROM_LEFT << QRect(100, 10, 230, 50);
        QTest::newRow("from left, narrower")
            << -30 << CSplitterBar::WIDTH_FROM_LEFT << QRect(100, 10, 170, 50);
        QTest::newRow("from right, wider")
            << 30 << CSplitterBar::WIDTH_FROM_RIGHT << QRect(70, 10, 230, 50);
        QTest::newRow("from right, narrower")
            << -30 << CSplitterBar::WIDTH_FROM_RIGHT << QRect(130, 10, 170, 50);
        QTest::newRow("other anchor") << 30 << 3 << start;
        QTest::newRow("never below zero")
            << -500 << CSplitterBar::WIDTH_FROM_LEFT << QRect(100, 10, 0, 50);
    }
    void changeWidthFollowsTheAnchor() {
        QFETCH(int, delta);
        QFETCH(int, anchor);
        QFETCH(QRect, expected);
        QWidget parent;
        auto* child = new QWidget(&parent);
        child->setGeometry(100, 10, 200, 50);
        CSplitterBar::ChangeWidth(child, delta, anchor);
        QCOMPARE(child->geometry(), expected);
    }

    void changeWidthIgnoresWindowsWithoutParent() {
        QWidget lone;
        lone.setGeometry(100, 10, 200, 50);
        CSplitterBar::ChangeWidth(&lone, 30, CSplitterBar::WIDTH_FROM_LEFT);
        QCOMPARE(lone.geometry(), QRect(100, 10, 200, 50));
        CSplitterBar::ChangeWidth(nullptr, 30, CSplitterBar::WIDTH_FROM_LEFT);
    }

    void paintsEdgesAndFill() {
        QWidget parent;
        parent.resize(100, 200);
        auto* bar = new CSplitterBar;
        bar->Create({10, 10, 3, 140}, &parent, 1);
        const QImage img = bar->grab().toImage();
        QCOMPARE(img.size(), QSize(5, 140));
        QCOMPARE(img.pixel(1, 1), qRgb(200, 200, 200));
        QCOMPARE(img.pixel(2, 70), qRgb(200, 220, 220));
        QCOMPARE(img.pixel(3, 70), qRgb(200, 200, 200));
        QCOMPARE(img.pixel(0, 70), bar->palette().color(QPalette::Light).rgb());
        QCOMPARE(img.pixel(4, 70), bar->palette().color(QPalette::Dark).rgb());
        QCOMPARE(img.pixel(2, 139), bar->palette().color(QPalette::Dark).rgb());
    }
};

QTEST_MAIN(SplitterBarTest)
#include "splitter_bar_test.moc"
