// Draws the program's artwork: the two dialog backgrounds, the window icon and the 18 folder
// icons. The PNGs are committed; run this after changing a drawing:
//
//     cmake --build <build> --target edb_make_artwork
//     QT_QPA_PLATFORM=offscreen <build>/resources/edb_make_artwork <source>/resources/artwork
//
// Everything is drawn from shapes here; one palette and one folder shape keep the set alike.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <functional>

namespace {

const QColor kInk(0x24, 0x3B, 0x55);        // outlines
const QColor kFolder(0xF4, 0xC4, 0x5A);     // folder body
const QColor kFolderBack(0xE0, 0xA8, 0x3A); // folder back and tab
const QColor kFolderEdge(0xA8, 0x74, 0x1C);
const QColor kBlue(0x2F, 0x6D, 0xB5);
const QColor kBlueDark(0x1C, 0x3F, 0x6E);
const QColor kRed(0xC8, 0x3A, 0x32);
const QColor kGreen(0x2E, 0x8B, 0x57);
const QColor kPaper(0xFD, 0xFD, 0xFA);
const QColor kGrey(0x7A, 0x84, 0x8F);

// All icons are drawn on a 64 x 64 canvas and reduced to 16 x 16.
constexpr int kCanvas = 64;

QImage blank(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void folderShape(QPainter& p, bool open = false) {
    p.setPen(QPen(kFolderEdge, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath back;
    back.moveTo(4, 14);
    back.lineTo(24, 14);
    back.lineTo(29, 20);
    back.lineTo(60, 20);
    back.lineTo(60, 56);
    back.lineTo(4, 56);
    back.closeSubpath();
    p.setBrush(kFolderBack);
    p.drawPath(back);
    QPainterPath front;
    if (open) {
        front.moveTo(12, 30);
        front.lineTo(63, 30);
        front.lineTo(56, 56);
        front.lineTo(4, 56);
    } else {
        front.moveTo(4, 26);
        front.lineTo(60, 26);
        front.lineTo(60, 56);
        front.lineTo(4, 56);
    }
    front.closeSubpath();
    QLinearGradient g(0, 26, 0, 56);
    g.setColorAt(0, kFolder.lighter(112));
    g.setColorAt(1, kFolder);
    p.setBrush(g);
    p.drawPath(front);
}

// Emblems sit in the lower right of the folder on a round white badge.
void badge(QPainter& p) {
    p.setPen(QPen(kInk, 2.5));
    p.setBrush(kPaper);
    p.drawEllipse(QRectF(27, 25, 37, 37));
}

void envelope(QPainter& p, const QRectF& r, const QColor& fill) {
    p.setPen(QPen(kInk, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawRect(r);
    QPainterPath flap;
    flap.moveTo(r.topLeft());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.55);
    flap.lineTo(r.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& c, double width = 5) {
    p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QLineF line(to, from);
    QLineF a = line;
    a.setLength(11);
    a.setAngle(line.angle() + 40);
    QLineF b = line;
    b.setLength(11);
    b.setAngle(line.angle() - 40);
    p.drawLine(a);
    p.drawLine(b);
}

using Emblem = std::function<void(QPainter&)>;

QImage icon(bool open, const Emblem& emblem) {
    QImage big = blank(kCanvas, kCanvas);
    {
        QPainter p(&big);
        p.setRenderHint(QPainter::Antialiasing);
        folderShape(p, open);
        if (emblem)
            emblem(p);
    }
    return big.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage drawnIcon(const Emblem& draw) {
    QImage big = blank(kCanvas, kCanvas);
    {
        QPainter p(&big);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p);
    }
    return big.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void calendar(QPainter& p) {
    badge(p);
    p.setPen(QPen(kInk, 2.5));
    p.setBrush(kPaper);
    p.drawRect(QRectF(34, 33, 23, 22));
    p.setBrush(kRed);
    p.drawRect(QRectF(34, 33, 23, 7));
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawRect(QRectF(37 + col * 6.5, 43 + row * 5.5, 4, 3.5));
}

void contacts(QPainter& p) {
    badge(p);
    p.setPen(QPen(kInk, 2.5));
    p.setBrush(kBlue);
    p.drawEllipse(QRectF(39.5, 31, 12, 12));
    QPainterPath body;
    body.moveTo(34, 56);
    body.cubicTo(34, 44, 57, 44, 57, 56);
    body.closeSubpath();
    p.drawPath(body);
}

void deletedItems(QPainter& p) {
    badge(p);
    p.setPen(QPen(kInk, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kGrey.lighter(150));
    QPainterPath bin;
    bin.moveTo(37, 37);
    bin.lineTo(54, 37);
    bin.lineTo(52, 56);
    bin.lineTo(39, 56);
    bin.closeSubpath();
    p.drawPath(bin);
    p.drawLine(QPointF(34, 35), QPointF(57, 35));
    p.drawLine(QPointF(42, 31), QPointF(49, 31));
    p.drawLine(QPointF(43, 41), QPointF(43.5, 52));
    p.drawLine(QPointF(48, 41), QPointF(47.5, 52));
}

void drafts(QPainter& p) {
    badge(p);
    p.setPen(QPen(kInk, 2.5));
    p.setBrush(kPaper);
    p.drawRect(QRectF(35, 31, 18, 25));
    p.setPen(QPen(kGrey, 2));
    for (int y : {37, 42, 47})
        p.drawLine(QPointF(38, y), QPointF(49, y));
    // Pencil across the page.
    p.setPen(QPen(kInk, 2));
    p.setBrush(kRed);
    QPolygonF pencil;
    pencil << QPointF(58, 36) << QPointF(62, 40) << QPointF(46, 56) << QPointF(41, 58)
           << QPointF(42, 52);
    p.drawPolygon(pencil);
}

void tray(QPainter& p) {
    p.setPen(QPen(kInk, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kBlue.lighter(170));
    QPainterPath t;
    t.moveTo(33, 45);
    t.lineTo(40, 45);
    t.lineTo(42, 49);
    t.lineTo(49, 49);
    t.lineTo(51, 45);
    t.lineTo(58, 45);
    t.lineTo(58, 56);
    t.lineTo(33, 56);
    t.closeSubpath();
    p.drawPath(t);
}

void inbox(QPainter& p) {
    badge(p);
    tray(p);
    arrow(p, QPointF(45.5, 28), QPointF(45.5, 45), kGreen, 4);
}

void outbox(QPainter& p) {
    badge(p);
    tray(p);
    arrow(p, QPointF(45.5, 47), QPointF(45.5, 29), kBlue, 4);
}

void journal(QPainter& p) {
    badge(p);
    p.setPen(QPen(kInk, 2.5));
    p.setBrush(kGreen);
    p.drawRoundedRect(QRectF(36, 31, 20, 25), 2, 2);
    p.setBrush(kPaper);
    p.drawRect(QRectF(40, 35, 12, 6));
    p.setPen(QPen(kPaper, 2));
    p.drawLine(QPointF(39, 33), QPointF(39, 54));
}

void junk(QPainter& p) {
    badge(p);
    envelope(p, QRectF(33, 35, 25, 17), kPaper);
    p.setPen(QPen(kRed, 4.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(35, 31), QPointF(56, 58));
    p.drawLine(QPointF(56, 31), QPointF(35, 58));
}

void notes(QPainter& p) {
    badge(p);
    p.setPen(QPen(kInk, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xFF, 0xEB, 0x7A));
    QPolygonF note;
    note << QPointF(34, 32) << QPointF(57, 32) << QPointF(57, 48) << QPointF(49, 56)
         << QPointF(34, 56);
    p.drawPolygon(note);
    p.drawLine(QPointF(49, 56), QPointF(49, 48));
    p.drawLine(QPointF(49, 48), QPointF(57, 48));
    p.setPen(QPen(kGrey, 2));
    p.drawLine(QPointF(38, 38), QPointF(53, 38));
    p.drawLine(QPointF(38, 43), QPointF(50, 43));
}

void sentItems(QPainter& p) {
    badge(p);
    envelope(p, QRectF(32, 38, 21, 15), kPaper);
    arrow(p, QPointF(44, 34), QPointF(59, 34), kGreen, 4);
}

void tasks(QPainter& p) {
    badge(p);
    p.setPen(QPen(kInk, 2.5));
    p.setBrush(kPaper);
    p.drawRect(QRectF(35, 34, 19, 19));
    p.setPen(QPen(kGreen, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(38, 43);
    tick.lineTo(44, 50);
    tick.lineTo(58, 29);
    p.setBrush(Qt::NoBrush);
    p.drawPath(tick);
}

void syncIssues(QPainter& p) {
    badge(p);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kBlue, 4, Qt::SolidLine, Qt::RoundCap));
    const QRectF ring(35, 33, 21, 21);
    p.drawArc(ring, 20 * 16, 140 * 16);
    p.drawArc(ring, 200 * 16, 140 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawPolygon(QPolygonF{{QPointF(33, 38), QPointF(40, 40), QPointF(33, 45)}});
    p.drawPolygon(QPolygonF{{QPointF(58, 49), QPointF(51, 47), QPointF(58, 42)}});
    p.setBrush(kRed);
    p.drawEllipse(QPointF(45.5, 43.5), 3.2, 3.2);
}

void mailbox(QPainter& p) {
    // A mail store: a cylinder with a letter in front.
    p.setPen(QPen(kInk, 3));
    QLinearGradient g(6, 0, 50, 0);
    g.setColorAt(0, kBlue.lighter(130));
    g.setColorAt(1, kBlueDark);
    p.setBrush(g);
    QPainterPath body;
    body.moveTo(6, 14);
    body.lineTo(6, 50);
    body.arcTo(QRectF(6, 42, 44, 16), 180, 180);
    body.lineTo(50, 14);
    p.drawPath(body);
    p.setBrush(kBlue.lighter(160));
    p.drawEllipse(QRectF(6, 6, 44, 16));
    envelope(p, QRectF(28, 34, 32, 22), kPaper);
}

void searchFolder(QPainter& p) {
    badge(p);
    p.setPen(QPen(kInk, 3.5));
    p.setBrush(kBlue.lighter(180));
    p.drawEllipse(QRectF(34, 31, 17, 17));
    p.setPen(QPen(kInk, 5.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(49, 46), QPointF(57, 55));
}

void publicFolders(QPainter& p) {
    badge(p);
    p.setPen(QPen(kInk, 2.5));
    p.setBrush(kGreen.lighter(150));
    const QRectF globe(34, 32, 23, 23);
    p.drawEllipse(globe);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(41, 32, 9, 23));
    p.drawLine(QPointF(34, 43.5), QPointF(57, 43.5));
}

void archive(QPainter& p) {
    badge(p);
    p.setPen(QPen(kInk, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xC9, 0xA2, 0x6B));
    p.drawRect(QRectF(34, 33, 23, 7));
    p.drawRect(QRectF(36, 40, 19, 16));
    p.drawLine(QPointF(42, 45), QPointF(49, 45));
}

QImage windowIcon(int size) {
    QImage big = blank(256, 256);
    {
        QPainter p(&big);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(4, 4);
        mailbox(p);
    }
    return big.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void logo(QPainter& p, QPointF at, double size) {
    p.save();
    p.translate(at);
    p.scale(size / kCanvas, size / kCanvas);
    mailbox(p);
    p.restore();
}

void header(QPainter& p, int width, int height) {
    QLinearGradient band(0, 0, width, height);
    band.setColorAt(0, kBlueDark);
    band.setColorAt(1, kBlue);
    p.fillRect(0, 0, width, height, band);
    // A soft light from the upper left, and a thin bright edge under the band.
    QRadialGradient glow(QPointF(width * 0.2, 0), width * 0.6);
    glow.setColorAt(0, QColor(255, 255, 255, 60));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(0, 0, width, height, glow);
    p.fillRect(0, height, width, 2, QColor(0xF4, 0xC4, 0x5A));
}

void body(QPainter& p, int top, int width, int height) {
    QLinearGradient g(0, top, 0, height);
    g.setColorAt(0, QColor(0xF3, 0xF6, 0xFA));
    g.setColorAt(1, QColor(0xDD, 0xE6, 0xF0));
    p.fillRect(0, top, width, height - top, g);
    // Faint diagonal stripes keep the large plain areas from looking empty.
    p.setPen(QPen(QColor(255, 255, 255, 70), 1));
    for (int x = -height; x < width; x += 14)
        p.drawLine(x, height, x + height, top);
}

QImage mainBackground() {
    constexpr int w = 718, h = 633, band = 74;
    QImage img(w, h, QImage::Format_RGB888);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    body(p, band, w, h);
    header(p, w, band);
    logo(p, QPointF(18, 8), 58);
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(26);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QPointF(90, 38), QStringLiteral("Exchange To Eml Conversion"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(13);
    p.setFont(sub);
    p.setPen(QColor(0xDC, 0xE8, 0xF5));
    p.drawText(QPointF(92, 60),
               QStringLiteral("Quenlor Systems  \u2022  mailboxes, folders and messages"));
    // A light footer strip behind the command buttons.
    p.fillRect(0, h - 44, w, 44, QColor(255, 255, 255, 90));
    p.fillRect(0, h - 44, w, 1, QColor(0xB8, 0xC6, 0xD6));
    return img;
}

QImage aboutBackground() {
    constexpr int w = 416, h = 223, band = 64;
    QImage img(w, h, QImage::Format_RGB888);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    body(p, band, w, h);
    header(p, w, band);
    logo(p, QPointF(14, 6), 52);
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(19);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QPointF(76, 31), QStringLiteral("Exchange To Eml Conversion"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(12);
    p.setFont(sub);
    p.setPen(QColor(0xDC, 0xE8, 0xF5));
    p.drawText(QPointF(77, 51), QStringLiteral("Quenlor Systems"));
    p.setPen(kInk);
    p.drawText(QPointF(24, 90), QStringLiteral("Version 1.0"));
    p.setPen(kGrey);
    p.drawText(QPointF(24, 108), QStringLiteral("Reads a mailbox store and lists its folders"));
    p.drawText(QPointF(24, 123), QStringLiteral("and messages."));
    return img;
}

bool save(const QImage& img, const QString& path) {
    if (img.save(path))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <artwork directory>\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("folders")))
        return 1;
    // Folder icons in the order of the folder tree's image list.
    const struct {
        const char* name;
        std::function<QImage()> draw;
    } folders[] = {
        {"00-folder", [] { return icon(false, {}); }},
        {"01-mailbox", [] { return drawnIcon(mailbox); }},
        {"02-folder-open", [] { return icon(true, {}); }},
        {"03-calendar", [] { return icon(false, calendar); }},
        {"04-contacts", [] { return icon(false, contacts); }},
        {"05-deleted-items", [] { return icon(false, deletedItems); }},
        {"06-drafts", [] { return icon(false, drafts); }},
        {"07-inbox", [] { return icon(false, inbox); }},
        {"08-journal", [] { return icon(false, journal); }},
        {"09-junk", [] { return icon(false, junk); }},
        {"10-notes", [] { return icon(false, notes); }},
        {"11-outbox", [] { return icon(false, outbox); }},
        {"12-sent-items", [] { return icon(false, sentItems); }},
        {"13-tasks", [] { return icon(false, tasks); }},
        {"14-sync-issues", [] { return icon(false, syncIssues); }},
        {"15-search-folder", [] { return icon(false, searchFolder); }},
        {"16-public-folders", [] { return icon(false, publicFolders); }},
        {"17-archive", [] { return icon(false, archive); }},
    };
    bool ok = true;
    for (const auto& f : folders)
        ok &= save(f.draw(), out.filePath(QStringLiteral("folders/%1.png").arg(f.name)));
    for (int size : {16, 32, 48, 256})
        ok &= save(windowIcon(size), out.filePath(QStringLiteral("window-icon-%1.png").arg(size)));
    ok &= save(mainBackground(), out.filePath(QStringLiteral("main-background.png")));
    ok &= save(aboutBackground(), out.filePath(QStringLiteral("about-background.png")));
    return ok ? 0 : 1;
}
