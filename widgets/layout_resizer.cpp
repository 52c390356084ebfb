#include "widgets/layout_resizer.h"

#include "widgets/control_id.h"

#include <algorithm>

namespace edb {

void CLayoutResizer::Attach(QWidget* dialog) {
    m_parent = dialog;
    if (dialog) {
        m_minimumWidth = dialog->width();
        m_minimumHeight = dialog->height();
    }
    StoreBaseSize();
}

int CLayoutResizer::AddControl(QWidget* control, int flags) {
    if (!m_parent || !control)
        return 0;
    m_entries.push_back({control, flags});
    return 1;
}

int CLayoutResizer::AddControl(int controlId, int flags) {
    if (!m_parent)
        return 0;
    return AddControl(findControl(m_parent, controlId), flags);
}

void CLayoutResizer::Resize() {
    if (!m_parent)
        return;
    for (const Entry& entry : m_entries) {
        QWidget* control = entry.control;
        if (!control)
            continue;
        const int w = m_parent->width();
        const int h = m_parent->height();
        // Sizes below the minimum count as the minimum: the layout never shrinks past the one
        // the dialog had when it was attached.
        const int dW = std::max(w, m_minimumWidth) - std::max(m_baseWidth, m_minimumWidth);
        const int dH = std::max(h, m_minimumHeight) - std::max(m_baseHeight, m_minimumHeight);
        const QRect g = control->geometry();
        int left = g.x(), top = g.y();
        int right = g.x() + g.width(), bottom = g.y() + g.height();
        if (entry.flags & RESIZE_STRETCH_Y)
            bottom += dH;
        if (entry.flags & RESIZE_STRETCH_X)
            right += dW;
        if (entry.flags & RESIZE_MOVE_Y) {
            top += dH;
            bottom += dH;
        }
        if (entry.flags & RESIZE_MOVE_X) {
            left += dW;
            right += dW;
        }
        control->setGeometry(left, top, std::max(0, right - left), std::max(0, bottom - top));
        control->update();
    }
    StoreBaseSize();
}

void CLayoutResizer::StoreBaseSize() {
    if (!m_parent)
        return;
    m_baseWidth = m_parent->width();
    m_baseHeight = m_parent->height();
}

} // namespace edb
