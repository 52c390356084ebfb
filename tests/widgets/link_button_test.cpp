#include "tests/platform/fake_platform.h"
#include "widgets/link_button.h"

#include <QDialog>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

using edb::CLinkButton;

namespace {

void moveOver(QWidget* w, QPoint at = {5, 5}) {
    QMouseEvent e(QEvent::MouseMove, QPointF(at), QPointF(w->mapToGlobal(at)), Qt::NoButton,
                  Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void leave(QWidget* w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

struct About {
    QDialog dialog;
    CLinkButton* link = new CLinkButton(&dialog);
    edb::FakePlatform fake;
    edb::ScopedPlatform use{fake};

    explicit About(const QString& text) {
        link->setText(text);
        link->setGeometry(20, 20, 240, 16);
    }
};

} // namespace

class LinkButtonTest : public QObject {
    Q_OBJECT

private slots:
    void linkFontIsBoldUnderlinedFourteenHigh() {
        CLinkButton link(QStringLiteral("www.example.com"));
        const QFont f = link.linkFont();
        QCOMPARE(f.weight(), QFont::ExtraBold);
        QVERIFY(f.underline());
        QVERIFY(QFontMetrics(f).height() <= CLinkButton::kFontHeight);
        QVERIFY(f.pixelSize() > 8);
        QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!link.isDefault());
        QVERIFY(!link.autoDefault());
    }

    void webAddressOpensAndTurnsVisited() {
        About a(QStringLiteral("www.example.com"));
        QCOMPARE(a.link->currentTextColour(), a.link->normalColour());
        a.link->click();
        QCOMPARE(a.fake.log, QStringList{QStringLiteral("open: www.example.com")});
        QVERIFY(a.link->isVisited());
        QCOMPARE(a.link->currentTextColour(), QColor(128, 0, 128));
    }

    void hoverWinsOverVisitedOnlyAfterLeavingAndRestingAnew() {
        About a(QStringLiteral("www.example.com"));
        moveOver(a.link);
        QTRY_VERIFY(a.link->isHover());
        QCOMPARE(a.link->currentTextColour(), a.link->hoverColour());
        a.link->click();
        // Visited at once, even with the pointer still on it.
        QVERIFY(!a.link->isHover());
        QCOMPARE(a.link->currentTextColour(), a.link->visitedColour());
        moveOver(a.link, {8, 6});
        QTest::qWait(20);
        QVERIFY(!a.link->isHover());
        leave(a.link);
        moveOver(a.link);
        QTRY_VERIFY(a.link->isHover());
        QCOMPARE(a.link->currentTextColour(), a.link->hoverColour());
        leave(a.link);
        QCOMPARE(a.link->currentTextColour(), a.link->visitedColour());
    }

    void failedOpenFallsBackToMail() {
        About a(QStringLiteral("support@example.com"));
        a.fake.openSucceeds = false;
        a.link->click();
        QCOMPARE(a.fake.log, (QStringList{QStringLiteral("open: support@example.com"),
                                          QStringLiteral("mail: SMTP:support@example.com")}));
        QCOMPARE(a.fake.mails.size(), 1);
        edb::MailDraft expected;
        expected.recipient = QStringLiteral("SMTP:support@example.com");
        QCOMPARE(a.fake.mails.at(0), expected);
        QVERIFY(a.link->isVisited());
    }

    void unreachableMailClientLeavesTheLinkUnvisited() {
        About a(QStringLiteral("support@example.com"));
        a.fake.openSucceeds = false;
        a.fake.mailSucceeds = false;
        a.link->click();
        QVERIFY(!a.link->isVisited());
        a.link->click();
        QCOMPARE(a.fake.mails.size(), 2);
        QVERIFY(!a.link->isVisited());
    }

    void failedOpenWithoutParentOnlyTurnsVisited() {
        edb::FakePlatform fake;
        edb::ScopedPlatform use(fake);
        fake.openSucceeds = false;
        CLinkButton link(QStringLiteral("support@example.com"));
        link.click();
        QCOMPARE(fake.log, QStringList{QStringLiteral("open: support@example.com")});
        QVERIFY(link.isVisited());
    }

    void contactUsOnlyTurnsVisited() {
        About a(QStringLiteral("Contact Us"));
        a.link->click();
        QVERIFY(a.fake.log.isEmpty());
        QVERIFY(a.link->isVisited());
        // The test is case-sensitive.
        About b(QStringLiteral("contact us"));
        b.link->click();
        QCOMPARE(b.fake.openedTargets, QStringList{QStringLiteral("contact us")});
    }

    void spaceNeverActivates() {
        About a(QStringLiteral("www.example.com"));
        QSignalSpy clicked(a.link, &QAbstractButton::clicked);
        QTest::keyClick(a.link, Qt::Key_Space);
        QTest::keyPress(a.link, Qt::Key_Space);
        QTest::keyRelease(a.link, Qt::Key_Space);
        QVERIFY(a.fake.log.isEmpty());
        QCOMPARE(clicked.count(), 0);
        QVERIFY(!a.link->isVisited());
    }

    void enterActivatesOnReleaseAfterItsPress() {
        About a(QStringLiteral("www.example.com"));
        auto* ok = new QPushButton(QStringLiteral("OK"), &a.dialog);
        ok->setDefault(true);
        QSignalSpy okClicked(ok, &QAbstractButton::clicked);
        QTest::keyPress(a.link, Qt::Key_Return);
        QVERIFY(a.fake.log.isEmpty());
        QTest::keyRelease(a.link, Qt::Key_Return);
        QCOMPARE(a.fake.openedTargets.size(), 1);
        QVERIFY(a.link->isVisited());
        // The keypad's Enter works the same way.
        QTest::keyClick(a.link, Qt::Key_Enter);
        QCOMPARE(a.fake.openedTargets.size(), 2);
        // The dialog's default button never saw the key.
        QCOMPARE(okClicked.count(), 0);
    }

    void enterReleaseWithoutItsPressDoesNothing() {
        About a(QStringLiteral("www.example.com"));
        QTest::keyRelease(a.link, Qt::Key_Return);
        QVERIFY(a.fake.log.isEmpty());
        // A Space press also arms the flag, but only Enter's release acts on it.
        QTest::keyPress(a.link, Qt::Key_Space);
        QTest::keyRelease(a.link, Qt::Key_Return);
        QCOMPARE(a.fake.openedTargets.size(), 1);
    }

    void inputBetweenPressAndReleaseCancelsEnter_data() {
        QTest::addColumn<int>("between");
        QTest::newRow("pointer movement") << 0;
        QTest::newRow("another key") << 1;
        QTest::newRow("Space released") << 2;
    }
    void inputBetweenPressAndReleaseCancelsEnter() {
        QFETCH(int, between);
        About a(QStringLiteral("www.example.com"));
        QTest::keyPress(a.link, Qt::Key_Return);
        if (between == 0)
            moveOver(a.link);
        else if (between == 1)
            QTest::keyClick(a.link, Qt::Key_A);
        else
            QTest::keyRelease(a.link, Qt::Key_Space);
        QTest::keyRelease(a.link, Qt::Key_Return);
        // A Space release is taken before it can clear the flag.
        QCOMPARE(a.fake.openedTargets.size(), between == 2 ? 1 : 0);
    }

    void disabledLinkIgnoresActivationAndIsGrey() {
        About a(QStringLiteral("www.example.com"));
        a.link->setEnabled(false);
        a.link->click();
        QTest::keyClick(a.link, Qt::Key_Return);
        QVERIFY(a.fake.log.isEmpty());
        QCOMPARE(a.link->currentTextColour(), a.link->disabledColour());
        a.link->setEnabled(true);
        QCOMPARE(a.link->currentTextColour(), a.link->normalColour());
    }

    void coloursAreFixedAtConstruction() {
        CLinkButton link;
        const QColor normal = link.normalColour();
        QPalette changed = link.palette();
        changed.setColor(QPalette::Highlight, Qt::green);
        link.setPalette(changed);
        QCOMPARE(link.normalColour(), normal);
        QCOMPARE(link.visitedColour(), QColor(128, 0, 128));
    }
};

QTEST_MAIN(LinkButtonTest)
#include "link_button_test.moc"
