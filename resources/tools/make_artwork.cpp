// Draws the program's artwork: the two dialog backgrounds, the window icon and the 18 folder
// icons. The PNGs are committed; run this after changing a drawing:
//
//     cmake --build <build> --target edb_make_artwork
//     QT_QPA_PLATFORM=offscreen <build>/resources/edb_make_artwork <source>/resources/artwork
//
// Everything is drawn from shapes (the folder icons in folder_icons.cpp); one palette
// (artwork.h) and one folder shape keep the set alike.
#include "artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <cstdio>

namespace {

using namespace artwork;

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
    // The version and what the program does are the About box's own text, kept true with it.
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
    bool ok = true;
    for (const auto& [name, image] : folderIcons())
        ok &= save(image, out.filePath(QStringLiteral("folders/%1.png").arg(name)));
    for (int size : {16, 32, 48, 256})
        ok &= save(windowIcon(size), out.filePath(QStringLiteral("window-icon-%1.png").arg(size)));
    ok &= save(mainBackground(), out.filePath(QStringLiteral("main-background.png")));
    ok &= save(aboutBackground(), out.filePath(QStringLiteral("about-background.png")));
    return ok ? 0 : 1;
}
