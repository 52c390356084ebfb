#pragma once
// What the artwork tool's drawings share: one palette, the icon canvas, and the mail-store
// drawing that is the mailbox icon, the window icon and the dialogs' logo.
#include <QColor>
#include <QImage>
#include <QString>
#include <utility>
#include <vector>

class QPainter;

namespace artwork {

inline const QColor kInk(0x24, 0x3B, 0x55);        // outlines
inline const QColor kFolder(0xF4, 0xC4, 0x5A);     // folder body
inline const QColor kFolderBack(0xE0, 0xA8, 0x3A); // folder back and tab
inline const QColor kFolderEdge(0xA8, 0x74, 0x1C);
inline const QColor kBlue(0x2F, 0x6D, 0xB5);
inline const QColor kBlueDark(0x1C, 0x3F, 0x6E);
inline const QColor kRed(0xC8, 0x3A, 0x32);
inline const QColor kGreen(0x2E, 0x8B, 0x57);
inline const QColor kPaper(0xFD, 0xFD, 0xFA);
inline const QColor kGrey(0x7A, 0x84, 0x8F);

// All icons are drawn on a 64 x 64 canvas and reduced to 16 x 16.
inline constexpr int kCanvas = 64;

// A transparent image of the given size.
QImage blank(int w, int h);

// The mail store (a cylinder with a letter in front) on the 64 x 64 canvas.
void mailbox(QPainter& p);

// The 18 folder icons (16 x 16), named, in the order of the folder tree's image list.
std::vector<std::pair<QString, QImage>> folderIcons();

} // namespace artwork
