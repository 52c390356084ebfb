#include "widgets/framed_group_box.h"

#include "widgets/system_metrics.h"

#include <QPainter>
#include <initializer_list>

namespace edb {

namespace {

// A run of straight lines through the points, each segment drawn without its end point and
// the last point itself left out, as line drawing from a current position does.
void drawRun(QPainter& p, const QColor& colour, std::initializer_list<QPoint> points) {
    const QPoint* a = points.begin();
    for (const QPoint* b = a + 1; b < points.end(); a = b, ++b) {
        if (a->y() == b->y() && a->x() != b->x()) {
            const int from = a->x() < b->x() ? a->x() : b->x() + 1;
            p.fillRect(from, a->y(), std::abs(b->x() - a->x()), 1, colour);
        } else if (a->x() == b->x() && a->y() != b->y()) {
            const int from = a->y() < b->y() ? a->y() : b->y() + 1;
            p.fillRect(a->x(), from, 1, std::abs(b->y() - a->y()), colour);
        }
    }
}

} // namespace

CFramedGroupBox::CFramedGroupBox(QWidget* parent) : QGroupBox(parent) {
    setAutoFillBackground(false);
}

CFramedGroupBox::CFramedGroupBox(const QString& title, QWidget* parent) : CFramedGroupBox(parent) {
    setTitle(title);
}

void CFramedGroupBox::setEdgeStyle(unsigned edges) {
    m_edges = edges;
    update();
}

QString CFramedGroupBox::caption() const {
    return QLatin1Char(' ') + title() + QLatin1Char(' ');
}

CFramedGroupBox::Geometry CFramedGroupBox::frameGeometry(const QFontMetrics& metrics) const {
    Geometry g;
    // Right and bottom one past the last pixel, as window rectangles are.
    int left = 0, top = 0, right = width(), bottom = height();
    const auto inflate = [&](int dx, int dy) {
        left -= dx;
        right += dx;
        top -= dy;
        bottom += dy;
    };
    if (m_edges & kDialogModalFrame) {
        inflate(-2 * kEdgeWidth, -2 * kEdgeHeight);
        left -= 1;
    }
    if (m_edges & kClientEdge) {
        inflate(-(kEdgeWidth + 1), -(kEdgeHeight + 1));
        left -= 1;
        if (m_edges & kDialogModalFrame)
            right += 1;
    }
    if (m_edges & kStaticEdge) {
        inflate(-2 * kBorderWidth, -2 * kBorderHeight);
        left -= 1;
    }
    g.left = left;
    g.top = top;
    g.right = right;
    g.bottom = bottom;

    const int w = metrics.horizontalAdvance(caption());
    g.captionHeight = metrics.height();
    const Qt::Alignment align = alignment() & Qt::AlignHorizontal_Mask;
    if (align & Qt::AlignRight) {
        g.captionRight = right - 10;
        g.captionLeft = g.captionRight - w;
    } else if (align & Qt::AlignHCenter) {
        g.captionLeft = (right - left - w) / 2;
        g.captionRight = g.captionLeft + w;
    } else {
        g.captionLeft = left + 10;
        g.captionRight = g.captionLeft + w;
    }
    g.lineY = top + g.captionHeight / 2;
    return g;
}

void CFramedGroupBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Measured and drawn with the painter's font, whichever it is.
    const QFontMetrics metrics(p.font());
    const Geometry g = frameGeometry(metrics);
    const int l = g.left, r = g.right, b = g.bottom;
    const int x0 = g.captionLeft, x1 = g.captionRight, y = g.lineY;

    const QColor highlight = buttonHighlightColour(this);
    if (isFlat()) {
        const QColor outer(Qt::black);
        drawRun(p, outer, {{x0, y}, {l, y}, {l, b}, {r, b}, {r, y}, {x1, y}});
        drawRun(p, highlight,
                {{x0, y + 1},
                 {l + 1, y + 1},
                 {l + 1, b - 1},
                 {r - 1, b - 1},
                 {r - 1, y + 1},
                 {x1, y + 1}});
    } else {
        const QColor outer = buttonShadowColour(this);
        drawRun(p, outer, {{x0, y}, {l, y}, {l, b - 1}, {r - 1, b - 1}, {r - 1, y}, {x1, y}});
        drawRun(p, highlight, {{x0, y + 1}, {l + 1, y + 1}, {l + 1, b - 1}});
        drawRun(p, highlight, {{l, b}, {r, b}, {r, y - 1}});
        drawRun(p, highlight, {{r - 2, y + 1}, {x1, y + 1}});
    }

    const QString text = caption();
    if (isEnabled()) {
        // Centred vertically on the frame line, in the painter's own text colour.
        const int top = y - g.captionHeight / 2;
        p.drawText(QPoint(x0, top + metrics.ascent()), text);
    } else {
        // Embossed: a highlight copy one pixel down and right under a shadow copy.
        const QPoint at(x0, g.top + metrics.ascent());
        p.setPen(highlight);
        p.drawText(at + QPoint(1, 1), text);
        p.setPen(buttonShadowColour(this));
        p.drawText(at, text);
    }
}

} // namespace edb
