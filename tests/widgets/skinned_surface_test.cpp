#include <QTest>
class Placeholder : public QObject {
    Q_OBJECT
};
QTEST_MAIN(Placeholder)
#include "skinned_surface_test.moc"
