#include "app/screen_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace edbapp {

namespace {
// Room left for the frame the window system adds around the window (title bar and borders).
constexpr QSize kFrameRoom(16, 40);
} // namespace

void FitOnScreen(QWidget& window, QSize wanted, const QWidget* owner) {
    QScreen* screen = owner != nullptr ? owner->screen() : window.screen();
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        window.resize(wanted);
        return;
    }
    const QRect area = screen->availableGeometry();
    const QSize room = (area.size() - kFrameRoom).expandedTo(QSize(1, 1));
    const QSize size = wanted.boundedTo(room).expandedTo(window.minimumSize().boundedTo(room));
    window.resize(size);
    // Centred on the owner when there is one, else on the screen; always inside the area.
    const QPoint centre = owner != nullptr ? owner->frameGeometry().center() : area.center();
    const int x = std::clamp(centre.x() - size.width() / 2, area.left(),
                             std::max(area.left(), area.right() - size.width() - kFrameRoom.width()));
    const int y = std::clamp(centre.y() - size.height() / 2, area.top(),
                             std::max(area.top(), area.bottom() - size.height() - kFrameRoom.height()));
    window.move(x, y);
}

} // namespace edbapp
