#include "widgets/splitter_bar.h"

#include "widgets/control_id.h"
#include "widgets/system_metrics.h"

#include <QMouseEvent>
#include <QPainter>

namespace edb {

namespace {

const QColor kLineColour(200, 200, 200);
const QColor kFillColour(200, 220, 220);

} // namespace

// Shows the drag lines of one bar over the bar's top-level window. It takes no input and
// paints nothing but the lines, so hiding a line repaints exactly what was beneath.
class DragLineOverlay : public QWidget {
public:
    DragLineOverlay(CSplitterBar* bar, QWidget* host) : QWidget(host), m_bar(bar) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setGeometry(host->rect());
        raise();
        show();
    }

    // Global line positions, each drawn as two 1-pixel lines along the bar's length.
    QList<QPoint> lines;

    void toggle(QPoint at) {
        // Follow the host's size; the window may have been resized since the last drag.
        setGeometry(parentWidget()->rect());
        raise();
        if (!lines.removeOne(at))
            lines.append(at);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!m_bar)
            return;
        QPainter p(this);
        p.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
        p.setPen(QPen(kLineColour, 1));
        const QRect bar(mapFromGlobal(m_bar->mapToGlobal(QPoint(0, 0))), m_bar->size());
        for (const QPoint& global : lines) {
            const QPoint at = mapFromGlobal(global);
            // Each line runs the full length of the bar, end point excluded.
            if (m_bar->orientation() == CSplitterBar::SPLIT_VERTICAL) {
                for (int x : {at.x() - 1, at.x() + 1})
                    p.drawLine(x, bar.top(), x, bar.top() + bar.height() - 1);
            } else {
                for (int y : {at.y() - 1, at.y() + 1})
                    p.drawLine(bar.left(), y, bar.left() + bar.width() - 1, y);
            }
        }
    }

private:
    QPointer<CSplitterBar> m_bar;
};

CSplitterBar::CSplitterBar(QWidget* parent) : QWidget(parent) {}

CSplitterBar::~CSplitterBar() {
    delete m_overlay.data();
}

void CSplitterBar::Create(const QRect& rect, QWidget* parent, int id) {
    m_orientation = rect.width() < rect.height() ? SPLIT_VERTICAL : SPLIT_HORIZONTAL;
    QRect r = rect;
    if (m_orientation == SPLIT_VERTICAL)
        r.setWidth(kThickness);
    else
        r.setHeight(kThickness);
    setParent(parent);
    setGeometry(r);
    setControlId(this, id);
    setCursor(m_orientation == SPLIT_VERTICAL ? Qt::SizeHorCursor : Qt::SizeVerCursor);
    show();
    SetRange(0, 0, -1);
}

void CSplitterBar::SetRange(int below, int above, int root) {
    if (root < 0) {
        const QRect r = geometry();
        const int left = r.x(), right = r.x() + r.width();
        const int top = r.y(), bottom = r.y() + r.height();
        root =
            m_orientation == SPLIT_VERTICAL ? left + (right - left) / 2 : top + (bottom - top) / 2;
    }
    m_minimum = root - below;
    m_maximum = root + above;
}

void CSplitterBar::MoveTo(QPoint point) {
    const QRect r = geometry();
    if (m_orientation == SPLIT_VERTICAL)
        move(r.x() + point.x() - (r.x() + r.x() + r.width()) / 2, r.y());
    else
        move(r.x(), r.y() + point.y() - (r.y() + r.y() + r.height()) / 2);
    update();
}

void CSplitterBar::DrawDragLine(int x, int y) {
    if (DragLineOverlay* o = overlay())
        o->toggle(QPoint(x, y));
}

void CSplitterBar::ChangeWidth(QWidget* window, int delta, int anchor) {
    if (!window || !window->parentWidget())
        return;
    const QRect r = window->geometry();
    int left = r.x();
    int right = r.x() + r.width();
    if (anchor == WIDTH_FROM_LEFT)
        right += delta;
    else if (anchor == WIDTH_FROM_RIGHT)
        left -= delta;
    window->setGeometry(left, r.y(), std::max(0, right - left), r.height());
    window->update();
}

QList<QPoint> CSplitterBar::shownDragLines() const {
    return m_overlay ? m_overlay->lines : QList<QPoint>{};
}

void CSplitterBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int w = width(), h = height();
    // Three-dimensional edge: highlight on top and left, shadow on bottom and right.
    const QColor light = buttonHighlightColour(this);
    const QColor shadow = buttonShadowColour(this);
    p.fillRect(0, 0, w - 1, 1, light);
    p.fillRect(0, 0, 1, h - 1, light);
    p.fillRect(w - 1, 0, 1, h, shadow);
    p.fillRect(0, h - 1, w, 1, shadow);
    // Inside: a 1-pixel frame in the line colour around the fill colour.
    const QRect inner(1, 1, w - 2, h - 2);
    if (inner.isEmpty())
        return;
    p.fillRect(inner, kLineColour);
    p.fillRect(inner.adjusted(1, 1, -1, -1), kFillColour);
}

void CSplitterBar::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = 1;
    const QRect g = globalRect();
    if (m_orientation == SPLIT_VERTICAL) {
        m_dragX = g.x() + g.width() / 2;
        m_startPosition = m_dragX;
    } else {
        m_dragY = g.y() + g.height() / 2;
        m_startPosition = m_dragY;
    }
    DrawDragLine(m_dragX, m_dragY);
}

void CSplitterBar::mouseMoveEvent(QMouseEvent* event) {
    QWidget* parent = parentWidget();
    if (m_pressed && parent) {
        DrawDragLine(m_dragX, m_dragY);
        QPoint pt = parent->mapFromGlobal(mapToGlobal(event->position().toPoint()));
        // The same limits apply to both coordinates; only the one across the bar shows.
        if (pt.x() < m_minimum)
            pt.setX(m_minimum);
        if (pt.x() > m_maximum)
            pt.setX(m_maximum);
        if (pt.y() < m_minimum)
            pt.setY(m_minimum);
        if (pt.y() > m_maximum)
            pt.setY(m_maximum);
        const QPoint global = parent->mapToGlobal(pt);
        m_dragX = global.x();
        m_dragY = global.y();
        DrawDragLine(m_dragX, m_dragY);
    }
    QWidget::mouseMoveEvent(event);
}

void CSplitterBar::mouseReleaseEvent(QMouseEvent* event) {
    if (m_pressed && event->button() == Qt::LeftButton) {
        DrawDragLine(m_dragX, m_dragY);
        m_pressed = 0;
        if (QWidget* target = parentWidget()) {
            MoveTo(target->mapFromGlobal(QPoint(m_dragX, m_dragY)));
            const int at = m_orientation == SPLIT_VERTICAL ? m_dragX : m_dragY;
            emit SplitterMoved(at - m_startPosition);
        }
    }
    QWidget::mouseReleaseEvent(event);
}

DragLineOverlay* CSplitterBar::overlay() {
    if (!m_overlay) {
        QWidget* host = window();
        if (!host || host == this)
            return nullptr;
        m_overlay = new DragLineOverlay(this, host);
    }
    return m_overlay;
}

QRect CSplitterBar::globalRect() const {
    return QRect(mapToGlobal(QPoint(0, 0)), size());
}

} // namespace edb
