#include "widgets/skinned_dialog.h"

#include <QPainter>

namespace edb {

bool paintDialogBackground(QPainter& painter, const QPixmap& background) {
    if (background.isNull())
        return false;
    painter.drawPixmap(0, 0, background);
    return true;
}

CSkinnedDialog::CSkinnedDialog(const QString& resourcePath, QWidget* parent)
    : QDialog(parent), m_background(resourcePath) {}

void CSkinnedDialog::setBackground(const QPixmap& background) {
    m_background = background;
    update();
}

void CSkinnedDialog::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (!paintDialogBackground(painter, m_background)) {
        painter.end();
        QDialog::paintEvent(event);
    }
}

} // namespace edb
