#include "widgets/control_id.h"
#include "widgets/layout_resizer.h"

#include <QTest>

using edb::CLayoutResizer;

namespace {

constexpr int MOVE_X = CLayoutResizer::RESIZE_MOVE_X;
constexpr int MOVE_Y = CLayoutResizer::RESIZE_MOVE_Y;
constexpr int STRETCH_X = CLayoutResizer::RESIZE_STRETCH_X;
constexpr int STRETCH_Y = CLayoutResizer::RESIZE_STRETCH_Y;

const QRect kStart(50, 40, 100, 60);

} // namespace

class LayoutResizerTest : public QObject {
    Q_OBJECT

private slots:
    // One control per flag set; the dialog starts at 400 x 300 (its minimum) and goes
    // through the sizes listed, calling Resize after each.
    void controlsFollowTheSizeChange_data() {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QList<QSize>>("sizes");
        QTest::addColumn<QRect>("expected");
        const QList<QSize> grow{{440, 330}};
        QTest::newRow("move y, grow 40x30") << MOVE_Y << grow << QRect(50, 70, 100, 60);
        QTest::newRow("stretch x, grow 40x30") << STRETCH_X << grow << QRect(50, 40, 140, 60);
        QTest::newRow("move x") << MOVE_X << grow << QRect(90, 40, 100, 60);
        QTest::newRow("stretch y") << STRETCH_Y << grow << QRect(50, 40, 100, 90);
        QTest::newRow("flag 6: stretch x, move y")
            << (STRETCH_X | MOVE_Y) << grow << QRect(50, 70, 140, 60);
        QTest::newRow("stretch and move x: right edge twice")
            << (STRETCH_X | MOVE_X) << grow << QRect(90, 40, 140, 60);
        QTest::newRow("all four") << (MOVE_X | MOVE_Y | STRETCH_X | STRETCH_Y) << grow
                                  << QRect(90, 70, 140, 90);
        QTest::newRow("no flags") << 0 << grow << kStart;
        QTest::newRow("below the minimum nothing moves")
            << (STRETCH_X | MOVE_Y) << QList<QSize>{{300, 200}} << kStart;
        QTest::newRow("changes below the minimum give nothing")
            << (STRETCH_X | MOVE_Y) << QList<QSize>{{300, 200}, {350, 250}, {320, 210}} << kStart;
        QTest::newRow("growing from below counts the part above the minimum")
            << (STRETCH_X | MOVE_Y) << QList<QSize>{{300, 200}, {420, 310}}
            << QRect(50, 50, 120, 60);
        QTest::newRow("shrinking past the minimum stops at the minimum layout")
            << (STRETCH_X | MOVE_Y) << QList<QSize>{{480, 360}, {200, 100}} << kStart;
        QTest::newRow("grow, shrink partly")
            << (STRETCH_X | MOVE_Y) << QList<QSize>{{480, 360}, {430, 320}}
            << QRect(50, 60, 130, 60);
        QTest::newRow("width only")
            << (MOVE_X | MOVE_Y) << QList<QSize>{{410, 250}} << QRect(60, 40, 100, 60);
    }
    void controlsFollowTheSizeChange() {
        QFETCH(int, flags);
        QFETCH(QList<QSize>, sizes);
        QFETCH(QRect, expected);
        QWidget dialog;
        dialog.resize(400, 300);
        auto* control = new QWidget(&dialog);
        control->setGeometry(kStart);
        CLayoutResizer resizer;
        resizer.Attach(&dialog);
        QCOMPARE(resizer.AddControl(control, flags), 1);
        for (const QSize& size : sizes) {
            dialog.resize(size);
            resizer.Resize();
        }
        QCOMPARE(control->geometry(), expected);
        QCOMPARE(resizer.baseSize(), sizes.last());
        QCOMPARE(resizer.minimumSize(), QSize(400, 300));
    }

    void addControlBeforeAttachRegistersNothing() {
        QWidget dialog;
        dialog.resize(400, 300);
        auto* control = new QWidget(&dialog);
        edb::setControlId(control, 1003);
        control->setGeometry(kStart);
        CLayoutResizer resizer;
        QCOMPARE(resizer.AddControl(control, MOVE_Y), 0);
        QCOMPARE(resizer.AddControl(1003, MOVE_Y), 0);
        QCOMPARE(resizer.entryCount(), 0);
        resizer.Resize(); // no parent: nothing happens
        resizer.Attach(&dialog);
        dialog.resize(440, 330);
        resizer.Resize();
        QCOMPARE(control->geometry(), kStart);
    }

    void addControlById() {
        QWidget dialog;
        dialog.resize(400, 300);
        auto* list = new QWidget(&dialog);
        list->setGeometry(kStart);
        edb::setControlId(list, 1024);
        auto* button = new QWidget(&dialog);
        button->setGeometry(300, 250, 80, 20);
        edb::setControlId(button, 1025);
        CLayoutResizer resizer;
        resizer.Attach(&dialog);
        QCOMPARE(resizer.AddControl(1024, STRETCH_X | STRETCH_Y), 1);
        QCOMPARE(resizer.AddControl(1025, MOVE_X | MOVE_Y), 1);
        QCOMPARE(resizer.AddControl(4242, MOVE_X), 0);
        QCOMPARE(resizer.AddControl(nullptr, MOVE_X), 0);
        QCOMPARE(resizer.entryCount(), 2);
        dialog.resize(420, 310);
        resizer.Resize();
        QCOMPARE(list->geometry(), QRect(50, 40, 120, 70));
        QCOMPARE(button->geometry(), QRect(320, 260, 80, 20));
    }

    void registeringTwiceActsTwice() {
        QWidget dialog;
        dialog.resize(400, 300);
        auto* control = new QWidget(&dialog);
        control->setGeometry(kStart);
        CLayoutResizer resizer;
        resizer.Attach(&dialog);
        QCOMPARE(resizer.AddControl(control, MOVE_Y), 1);
        QCOMPARE(resizer.AddControl(control, MOVE_Y), 1);
        dialog.resize(400, 330);
        resizer.Resize();
        QCOMPARE(control->geometry(), kStart.translated(0, 60));
    }

    void deletedControlIsSkipped() {
        QWidget dialog;
        dialog.resize(400, 300);
        auto* gone = new QWidget(&dialog);
        auto* kept = new QWidget(&dialog);
        kept->setGeometry(kStart);
        CLayoutResizer resizer;
        resizer.Attach(&dialog);
        resizer.AddControl(gone, MOVE_X);
        resizer.AddControl(kept, MOVE_X);
        delete gone;
        dialog.resize(410, 300);
        resizer.Resize();
        QCOMPARE(kept->geometry(), kStart.translated(10, 0));
    }
};

QTEST_MAIN(LayoutResizerTest)
#include "layout_resizer_test.moc"
