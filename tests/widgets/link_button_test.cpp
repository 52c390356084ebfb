#include <QTest>
class Placeholder : public QObject {
    Q_OBJECT
};
QTEST_MAIN(Placeholder)
#include "link_button_test.moc"
