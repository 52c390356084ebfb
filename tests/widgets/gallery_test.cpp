// Renders each widget, as the dialogs use it, to a PNG under the build directory
// (tests/widgets/gallery/) so a reviewer can look at them.
#include "resources/artwork.h"
#include "widgets/framed_group_box.h"
#include "widgets/link_button.h"
#include "widgets/skinned_dialog.h"
#include "widgets/splitter_bar.h"
#include "widgets/transparent_static.h"

#include <QDir>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

QString galleryPath(const QString& name) {
    QDir().mkpath(QStringLiteral(EDB_GALLERY_DIR));
    return QStringLiteral(EDB_GALLERY_DIR "/") + name;
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class GalleryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { edb::initArtwork(); }

    void mainDialog() {
        edb::CSkinnedDialog dialog(QString::fromLatin1(edb::kMainBackground));
        dialog.resize(718, 633);
        auto* box = new edb::CFramedGroupBox(QStringLiteral("Select Exchange Mailbox (.EDB) File"),
                                             &dialog);
        box->setGeometry(27, 88, 651, 58);
        auto* path = new QLineEdit(QStringLiteral("/home/user/stores/priv1.edb"), &dialog);
        path->setGeometry(51, 104, 516, 28);
        auto* browse = new QPushButton(QStringLiteral("Browse..."), &dialog);
        browse->setGeometry(579, 107, 75, 23);
        auto* label = new edb::CTransparentStatic(QStringLiteral("Source File Path:"), &dialog);
        label->setGeometry(30, 160, 200, 20);

        auto* tree = new QTreeWidget(&dialog);
        tree->setHeaderHidden(true);
        tree->setGeometry(30, 190, 182, 300);
        auto* root = new QTreeWidgetItem(tree, {QStringLiteral("Jane Doe")});
        root->setIcon(0, QIcon(QString::fromLatin1(edb::kFolderIcons[edb::kIconFolder])));
        const char* names[] = {"Calendar", "Contacts",   "Deleted Items", "Drafts",
                               "Inbox",    "Journal",    "Junk E-mail",   "Notes",
                               "Outbox",   "Sent Items", "Tasks",         "Sync Issues"};
        for (int i = 0; i < 12; ++i) {
            auto* item = new QTreeWidgetItem(root, {QString::fromLatin1(names[i])});
            item->setIcon(0, QIcon(QString::fromLatin1(edb::kFolderIcons[3 + i])));
            item->setCheckState(0, i == 4 ? Qt::Checked : Qt::Unchecked);
        }
        tree->expandAll();
        auto* list = new QTreeWidget(&dialog);
        list->setHeaderLabels({QStringLiteral("No"), QStringLiteral("From"),
                               QStringLiteral("E-mail Subject"), QStringLiteral("Date")});
        list->setGeometry(216, 190, 462, 300);
        auto* bar = new edb::CSplitterBar;
        bar->Create({211, 190, 3, 300}, &dialog, 1026);
        bar->SetRange(50, 500);

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(dialog.grab().save(galleryPath(QStringLiteral("main-dialog.png"))));

        // Mid-drag: the inverted double line 60 pixels right of the bar.
        sendMouse(bar, QEvent::MouseButtonPress, {2, 10}, Qt::LeftButton);
        sendMouse(bar, QEvent::MouseMove, {62, 10}, Qt::LeftButton);
        QVERIFY(dialog.grab().save(galleryPath(QStringLiteral("main-dialog-dragging.png"))));
        sendMouse(bar, QEvent::MouseButtonRelease, {62, 10}, Qt::NoButton);
    }

    void aboutBox() {
        edb::CSkinnedDialog dialog(QString::fromLatin1(edb::kAboutBackground));
        dialog.resize(416, 223);
        auto* web = new edb::CLinkButton(QStringLiteral("www.example.com"), &dialog);
        web->setGeometry(145, 140, 234, 16);
        auto* mail = new edb::CLinkButton(QStringLiteral("support@example.com"), &dialog);
        mail->setGeometry(145, 159, 234, 16);
        auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
        ok->setGeometry(187, 185, 75, 23);
        ok->setDefault(true);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(dialog.grab().save(galleryPath(QStringLiteral("about-box.png"))));
    }

    // Every link state side by side: normal, hover, visited, disabled.
    void linkStates() {
        edb::CSkinnedDialog dialog(QString::fromLatin1(edb::kAboutBackground));
        dialog.resize(416, 223);
        const char* labels[] = {"normal link", "hover link", "visited link", "disabled link"};
        QList<edb::CLinkButton*> links;
        for (int i = 0; i < 4; ++i) {
            auto* link = new edb::CLinkButton(QString::fromLatin1(labels[i]), &dialog);
            link->setGeometry(24, 138 + i * 20, 240, 16);
            links << link;
        }
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        sendMouse(links[1], QEvent::MouseMove, {4, 4}, Qt::NoButton);
        QTRY_VERIFY(links[1]->isHover());
        // "Contact Us" turns visited without opening anything.
        links[2]->setText(QStringLiteral("Contact Us"));
        links[2]->click();
        links[2]->setText(QStringLiteral("visited link"));
        links[3]->setEnabled(false);
        QVERIFY(dialog.grab().save(galleryPath(QStringLiteral("link-states.png"))));
    }

    void groupBoxes() {
        edb::CSkinnedDialog dialog(QString::fromLatin1(edb::kAboutBackground));
        dialog.resize(416, 223);
        struct {
            const char* title;
            Qt::Alignment align;
            bool flat;
            bool enabled;
        } boxes[] = {{"Left, etched", Qt::AlignLeft, false, true},
                     {"Right, flat", Qt::AlignRight, true, true},
                     {"Centre, disabled", Qt::AlignHCenter, false, false},
                     {"", Qt::AlignLeft, false, true}};
        for (int i = 0; i < 4; ++i) {
            auto* box = new edb::CFramedGroupBox(QString::fromLatin1(boxes[i].title), &dialog);
            box->setGeometry(10 + (i % 2) * 203, 72 + (i / 2) * 74, 193, 64);
            box->setAlignment(boxes[i].align);
            box->setFlat(boxes[i].flat);
            box->setEnabled(boxes[i].enabled);
        }
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(dialog.grab().save(galleryPath(QStringLiteral("group-boxes.png"))));
    }

    // The 18 folder icons at 1x and enlarged 4x, and the window icon.
    void icons() {
        QImage sheet(18 * 72 + 8, 140, QImage::Format_RGB32);
        sheet.fill(Qt::white);
        QPainter p(&sheet);
        for (int i = 0; i < 18; ++i) {
            const QImage icon(QString::fromLatin1(edb::kFolderIcons[i]));
            QVERIFY(!icon.isNull());
            p.drawImage(8 + i * 72 + 24, 4, icon);
            p.drawImage(QRect(8 + i * 72, 28, 64, 64), icon);
            p.drawText(QRect(8 + i * 72, 94, 64, 16), Qt::AlignCenter, QString::number(i));
        }
        p.drawPixmap(8, 108, edb::windowIcon().pixmap(32, 32));
        p.end();
        QVERIFY(sheet.save(galleryPath(QStringLiteral("icons.png"))));
    }
};

QTEST_MAIN(GalleryTest)
#include "gallery_test.moc"
