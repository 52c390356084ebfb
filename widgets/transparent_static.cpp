#include "widgets/transparent_static.h"

namespace edb {

CTransparentStatic::CTransparentStatic(QWidget* parent) : QLabel(parent) {
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

CTransparentStatic::CTransparentStatic(const QString& text, QWidget* parent)
    : CTransparentStatic(parent) {
    QLabel::setText(text);
}

void CTransparentStatic::setText(const QString& text) {
    QLabel::setText(text);
    if (QWidget* parent = parentWidget())
        parent->repaint(geometry());
}

} // namespace edb
