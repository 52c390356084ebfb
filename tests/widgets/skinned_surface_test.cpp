#include "resources/artwork.h"
#include "widgets/framed_group_box.h"
#include "widgets/skinned_dialog.h"
#include "widgets/transparent_static.h"

#include <QPainter>
#include <QTest>

using edb::CFramedGroupBox;
using edb::CSkinnedDialog;

namespace {

// A background with a different colour in every pixel column, so any repaint shows.
QPixmap stripes(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y)
            img.setPixel(x, y, qRgb((x * 7) % 256, (y * 5) % 256, 180));
    return QPixmap::fromImage(img);
}

// Renders w's own painting (no framework background) over white.
QImage paintedOnWhite(QWidget* w) {
    QImage img(w->size(), QImage::Format_RGB32);
    img.fill(Qt::white);
    w->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

} // namespace

class SkinnedSurfaceTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { edb::initArtwork(); }

    void artworkHasItsSizes() {
        QCOMPARE(QPixmap(QString::fromLatin1(edb::kMainBackground)).size(), QSize(718, 633));
        QCOMPARE(QPixmap(QString::fromLatin1(edb::kAboutBackground)).size(), QSize(416, 223));
        QSet<QByteArray> distinct;
        for (const char* path : edb::kFolderIcons) {
            const QImage icon(QString::fromLatin1(path));
            QCOMPARE(icon.size(), QSize(16, 16));
            distinct.insert(
                QByteArray(reinterpret_cast<const char*>(icon.constBits()), icon.sizeInBytes()));
        }
        QCOMPARE(distinct.size(), 18);
        QVERIFY(edb::windowIcon().availableSizes().contains(QSize(32, 32)));
    }

    void backgroundIsPaintedAtTheOriginUnstretched() {
        CSkinnedDialog dialog(QStringLiteral(":/no/such/bitmap.png"));
        QVERIFY(dialog.background().isNull());
        dialog.setBackground(stripes(100, 80));
        dialog.resize(150, 120);
        const QImage img = paintedOnWhite(&dialog);
        const QImage bitmap = dialog.background().toImage();
        QCOMPARE(img.pixel(0, 0), bitmap.pixel(0, 0));
        QCOMPARE(img.pixel(99, 79), bitmap.pixel(99, 79));
        QCOMPARE(img.pixel(37, 12), bitmap.pixel(37, 12));
        // Outside the bitmap the painting leaves what was there.
        QCOMPARE(img.pixel(100, 10), qRgb(255, 255, 255));
        QCOMPARE(img.pixel(10, 80), qRgb(255, 255, 255));
        QCOMPARE(img.pixel(149, 119), qRgb(255, 255, 255));
    }

    void withoutBitmapTheDialogKeepsItsNormalBackground() {
        CSkinnedDialog dialog(QStringLiteral(":/no/such/bitmap.png"));
        dialog.resize(60, 40);
        const QImage img = dialog.grab().toImage();
        QCOMPARE(img.pixel(30, 20), dialog.palette().color(QPalette::Window).rgb());
        QImage target(4, 4, QImage::Format_RGB32);
        QPainter p(&target);
        QVERIFY(!edb::paintDialogBackground(p, QPixmap()));
    }

    void shorterTextLeavesNoRemains() {
        CSkinnedDialog dialog(QString{});
        dialog.setBackground(stripes(300, 100));
        dialog.resize(300, 100);
        auto* label = new edb::CTransparentStatic(&dialog);
        label->setGeometry(10, 10, 280, 30);
        label->setText(QStringLiteral("A rather long text for this label"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QImage longText = dialog.grab().toImage();
        label->setText(QStringLiteral("Short"));
        const QImage shortText = dialog.grab().toImage();
        label->hide();
        const QImage bare = dialog.grab().toImage();
        // The text's glyphs show over the bitmap; the label paints no background.
        QVERIFY(longText.copy(150, 10, 140, 30) != bare.copy(150, 10, 140, 30));
        QCOMPARE(shortText.copy(150, 10, 140, 30), bare.copy(150, 10, 140, 30));
        QCOMPARE(shortText.pixel(5, 5), bare.pixel(5, 5));
    }

    void captionPlaceFollowsTheAlignment_data() {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QString>("title");
        QTest::newRow("left") << int(Qt::AlignLeft) << QStringLiteral("Select File");
        QTest::newRow("right") << int(Qt::AlignRight) << QStringLiteral("Select File");
        QTest::newRow("centre") << int(Qt::AlignHCenter) << QStringLiteral("Select File");
        QTest::newRow("empty title") << int(Qt::AlignLeft) << QString();
    }
    void captionPlaceFollowsTheAlignment() {
        QFETCH(int, alignment);
        QFETCH(QString, title);
        CFramedGroupBox box(title);
        box.resize(300, 60);
        box.setAlignment(Qt::Alignment(alignment));
        const QFontMetrics fm(box.font());
        const auto g = box.frameGeometry(fm);
        const int w = fm.horizontalAdvance(QLatin1Char(' ') + title + QLatin1Char(' '));
        QCOMPARE(g.captionRight - g.captionLeft, w);
        if (title.isEmpty())
            QCOMPARE(w, fm.horizontalAdvance(QStringLiteral("  ")));
        if (alignment == Qt::AlignRight)
            QCOMPARE(g.captionRight, 300 - 10);
        else if (alignment == Qt::AlignHCenter)
            QCOMPARE(g.captionLeft, (300 - w) / 2);
        else
            QCOMPARE(g.captionLeft, 10);
        QCOMPARE(g.lineY, fm.height() / 2);
    }

    void borderStylesShrinkTheFrame_data() {
        QTest::addColumn<unsigned>("edges");
        QTest::addColumn<QRect>("frame"); // left, top, right, bottom as x, y, w, h
        QTest::newRow("none") << 0u << QRect(0, 0, 200, 80);
        QTest::newRow("modal frame") << CFramedGroupBox::kDialogModalFrame << QRect(3, 4, 196, 76);
        QTest::newRow("client edge") << CFramedGroupBox::kClientEdge << QRect(2, 3, 197, 77);
        QTest::newRow("static edge") << CFramedGroupBox::kStaticEdge << QRect(1, 2, 198, 78);
        QTest::newRow("modal frame and client edge")
            << (CFramedGroupBox::kDialogModalFrame | CFramedGroupBox::kClientEdge)
            << QRect(5, 7, 194, 73);
    }
    void borderStylesShrinkTheFrame() {
        QFETCH(unsigned, edges);
        QFETCH(QRect, frame);
        CFramedGroupBox box;
        box.resize(200, 80);
        box.setEdgeStyle(edges);
        const auto g = box.frameGeometry(QFontMetrics(box.font()));
        QCOMPARE(QRect(g.left, g.top, g.right, g.bottom), frame);
    }

    void framePixelsLeaveTheCaptionGap() {
        CFramedGroupBox box(QStringLiteral("Caption"));
        box.resize(200, 60);
        const auto g = box.frameGeometry(QFontMetrics(box.font()));
        const QImage img = paintedOnWhite(&box);
        const QRgb shadow = box.palette().color(QPalette::Active, QPalette::Dark).rgb();
        const QRgb light = box.palette().color(QPalette::Active, QPalette::Light).rgb();
        const int y = g.lineY;
        // Etched: shadow line with a highlight line under it, open over the caption.
        QCOMPARE(img.pixel(5, y), shadow);
        QCOMPARE(img.pixel(0, 30), shadow);
        QCOMPARE(img.pixel(1, 30), light);
        QCOMPARE(img.pixel(199, 30), shadow);
        QCOMPARE(img.pixel(198, 30), qRgb(255, 255, 255));
        QCOMPARE(img.pixel(100, 59), shadow);
        QCOMPARE(img.pixel(g.captionRight + 2, y), shadow);
        QCOMPARE(img.pixel(g.captionRight + 2, y + 1), light);
        QCOMPARE(img.pixel(g.captionLeft + 1, y + 1), qRgb(255, 255, 255));
        // Nothing painted inside the frame.
        QCOMPARE(img.pixel(100, 40), qRgb(255, 255, 255));

        box.setFlat(true);
        const QImage flat = paintedOnWhite(&box);
        QCOMPARE(flat.pixel(5, y), qRgb(0, 0, 0));
        QCOMPARE(flat.pixel(0, 30), qRgb(0, 0, 0));
        QCOMPARE(flat.pixel(199, 30), light);
        QCOMPARE(flat.pixel(100, 59), light);
    }

    void disabledCaptionIsEmbossedAndFrameUnchanged() {
        CFramedGroupBox box(QStringLiteral("Caption"));
        box.resize(200, 60);
        const QImage enabled = paintedOnWhite(&box);
        box.setEnabled(false);
        const QImage disabled = paintedOnWhite(&box);
        const auto g = box.frameGeometry(QFontMetrics(box.font()));
        const QRect captionArea(g.captionLeft, 0, g.captionRight - g.captionLeft + 2,
                                g.captionHeight + 2);
        QVERIFY(enabled.copy(captionArea) != disabled.copy(captionArea));
        QCOMPARE(enabled.copy(0, 25, 200, 35), disabled.copy(0, 25, 200, 35));
        // Only the two emboss colours (and their blends) appear, never the text colour.
        bool sawShadow = false;
        for (int x = captionArea.left(); x < captionArea.right(); ++x)
            for (int yy = 0; yy < captionArea.height(); ++yy)
                sawShadow |= disabled.pixel(x, yy) ==
                             box.palette().color(QPalette::Active, QPalette::Dark).rgb();
        QVERIFY(sawShadow);
    }
};

QTEST_MAIN(SkinnedSurfaceTest)
#include "skinned_surface_test.moc"
