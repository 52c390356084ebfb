#include "widgets/system_metrics.h"

#include <QApplication>
#include <QWidget>

namespace edb {

namespace {

QPalette paletteOf(const QWidget* w) {
    return w ? w->palette() : QApplication::palette();
}

} // namespace

QColor buttonHighlightColour(const QWidget* w) {
    return paletteOf(w).color(QPalette::Light);
}

QColor buttonShadowColour(const QWidget* w) {
    return paletteOf(w).color(QPalette::Dark);
}

QColor highlightColour(const QWidget* w) {
    return paletteOf(w).color(QPalette::Highlight);
}

QColor hotTrackColour(const QWidget* w) {
    return paletteOf(w).color(QPalette::Link);
}

QColor grayTextColour(const QWidget* w) {
    return paletteOf(w).color(QPalette::Disabled, QPalette::WindowText);
}

} // namespace edb
