// The folder icons: one folder shape, and an emblem on a round badge for each special folder.
#include "artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace artwork {

QImage blank(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

namespace {

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

} // namespace

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

std::vector<std::pair<QString, QImage>> folderIcons() {
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
    std::vector<std::pair<QString, QImage>> out;
    for (const auto& f : folders)
        out.emplace_back(QString::fromLatin1(f.name), f.draw());
    return out;
}

} // namespace artwork
