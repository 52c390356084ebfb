#include "widgets/system_metrics.h"

#include <QApplication>
#include <QWidget>

namespace edb {

namespace {

// The system's colours do not change with the widget's state: always the active group.
QPalette paletteOf(const QWidget* w) {
    return w ? w->palette() : QApplication::palette();
}

} // namespace

QColor buttonHighlightColour(const QWidget* w) {
    return paletteOf(w).color(QPalette::Active, QPalette::Light);
}

QColor buttonShadowColour(const QWidget* w) {
    return paletteOf(w).color(QPalette::Active, QPalette::Dark);
}

QColor highlightColour(const QWidget* w) {
    return paletteOf(w).color(QPalette::Active, QPalette::Highlight);
}

QColor hotTrackColour(const QWidget* w) {
    return paletteOf(w).color(QPalette::Active, QPalette::Link);
}

QColor grayTextColour(const QWidget* w) {
    return paletteOf(w).color(QPalette::Disabled, QPalette::WindowText);
}

} // namespace edb
