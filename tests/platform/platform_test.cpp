#include "tests/platform/fake_platform.h"
#include "platform/qt_platform.h"

#include <QTemporaryFile>
#include <QTest>

class PlatformTest : public QObject {
    Q_OBJECT

private slots:
    void openTargetsResolveLikeTheShell_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("url");
        QTest::newRow("web address") << "http://www.example.com/a"
                                     << "http://www.example.com/a";
        QTest::newRow("bare www host") << "www.example.com"
                                       << "http://www.example.com";
        QTest::newRow("bare ftp host") << "ftp.example.com"
                                       << "ftp://ftp.example.com";
        QTest::newRow("mailto") << "mailto:a@example.com"
                                << "mailto:a@example.com";
        QTest::newRow("bare mail address") << "support@example.com"
                                           << "";
        QTest::newRow("missing file") << "/no/such/file.chm"
                                      << "";
        QTest::newRow("drive letter path") << "C:\\help\\file.chm"
                                           << "";
        QTest::newRow("plain words") << "Contact Us"
                                     << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void openTargetsResolveLikeTheShell() {
        QFETCH(QString, target);
        QFETCH(QString, url);
        const QUrl resolved = edb::resolveOpenTarget(target);
        QCOMPARE(resolved.isValid() ? resolved.toString() : QString(), url);
    }

    void existingFileOpensAsFileUrl() {
        QTemporaryFile file;
        QVERIFY(file.open());
        const QUrl url = edb::resolveOpenTarget(file.fileName());
        QVERIFY(url.isLocalFile());
        QCOMPARE(url.toLocalFile(), QFileInfo(file.fileName()).absoluteFilePath());
    }

    void mailtoCarriesTheAddressWithoutItsType() {
        edb::MailDraft draft;
        draft.recipient = QStringLiteral("SMTP:support@example.com");
        QCOMPARE(edb::mailtoUrl(draft).toString(QUrl::FullyEncoded),
                 QStringLiteral("mailto:support@example.com"));
        draft.recipient = QStringLiteral("a@example.com");
        draft.subject = QStringLiteral("Q & A");
        draft.body = QStringLiteral("x=1");
        QCOMPARE(edb::mailtoUrl(draft).toString(QUrl::FullyEncoded),
                 QStringLiteral("mailto:a@example.com?subject=Q%20%26%20A&body=x%3D1"));
        draft.recipient = QStringLiteral("SMTP:");
        QVERIFY(!edb::mailtoUrl(draft).isValid());
    }

    void scopedPlatformInstallsAndRestores() {
        edb::Platform* desktop = &edb::platform();
        {
            edb::FakePlatform outer;
            edb::ScopedPlatform useOuter(outer);
            QCOMPARE(&edb::platform(), &outer);
            {
                edb::FakePlatform inner;
                edb::ScopedPlatform useInner(inner);
                QCOMPARE(&edb::platform(), &inner);
            }
            QCOMPARE(&edb::platform(), &outer);
        }
        QCOMPARE(&edb::platform(), desktop);
    }

    void fakeAnswersFromItsScriptThenDefaults() {
        edb::FakePlatform fake;
        fake.yesNoAnswers = {true, false};
        fake.openFileAnswers = {QStringLiteral("/tmp/a.edb")};
        QVERIFY(fake.askYesNo(nullptr, QStringLiteral("one")));
        QVERIFY(!fake.askYesNo(nullptr, QStringLiteral("two")));
        QVERIFY(!fake.askYesNo(nullptr, QStringLiteral("three")));
        QCOMPARE(fake.chooseOpenFile(nullptr, QStringLiteral("Open"), QString()),
                 QStringLiteral("/tmp/a.edb"));
        QVERIFY(fake.chooseOpenFile(nullptr, QStringLiteral("Open"), QString()).isEmpty());
        fake.showError(nullptr, QStringLiteral("bad"));
        fake.exitProcess(0);
        QCOMPARE(fake.log,
                 (QStringList{"question: one", "question: two", "question: three",
                              "open file: Open", "open file: Open", "error: bad", "exit: 0"}));
        QCOMPARE(fake.exitStatuses, QList<int>{0});
    }
};

QTEST_MAIN(PlatformTest)
#include "platform_test.moc"
