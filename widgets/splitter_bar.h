// CSplitterBar: a thin bar between two neighbouring controls that the user drags to share the
// space between them.
//
// While the left button is held an inverted double line follows the pointer inside the range;
// on release the bar moves there and emits SplitterMoved with the distance moved. The bar
// knows nothing of its neighbours; the owner resizes them, typically with ChangeWidth.
//
// The drag line is drawn on a transparent overlay over the bar's top-level window, combined
// with what lies beneath by NOT-XOR, so drawing it twice at one place leaves no trace. The
// mouse is held by Qt's implicit grab between press and release.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QWidget>

namespace edb {

class DragLineOverlay;

class CSplitterBar : public QWidget {
    Q_OBJECT

public:
    static constexpr int SPLIT_VERTICAL = 1;   // dragged left and right
    static constexpr int SPLIT_HORIZONTAL = 2; // dragged up and down
    static constexpr int WIDTH_FROM_LEFT = 1;  // ChangeWidth keeps the left edge
    static constexpr int WIDTH_FROM_RIGHT = 2; // ChangeWidth keeps the right edge
    static constexpr int kThickness = 5;

    explicit CSplitterBar(QWidget* parent = nullptr);
    ~CSplitterBar() override;

    // Places the bar in parent at rect (parent coordinates), gives it the control id and shows
    // it. Narrower than high: a vertical bar, otherwise horizontal; the thickness becomes 5.
    // Both limits start at the bar's centre.
    void Create(const QRect& rect, QWidget* parent, int id);

    // Limits of the drag line in parent coordinates: root - below .. root + above; a negative
    // root stands for the bar's current centre.
    void SetRange(int below, int above, int root = -1);

    // Moves the bar across its length so that its centre line passes through point (parent
    // coordinates).
    void MoveTo(QPoint point);

    // Toggles the drag line at global x (vertical bar) or y (horizontal bar): drawing at the same
    // place a second time erases it.
    virtual void DrawDragLine(int x, int y);

    // Changes the width of a child window by delta: WIDTH_FROM_LEFT moves the right edge by
    // delta, WIDTH_FROM_RIGHT moves the left edge by -delta (positive widens to the left); any
    // other anchor re-applies the rectangle unchanged. Widths below 0 become 0.
    static void ChangeWidth(QWidget* window, int delta, int anchor);

    [[nodiscard]] int orientation() const { return m_orientation; }
    [[nodiscard]] int minimum() const { return m_minimum; }
    [[nodiscard]] int maximum() const { return m_maximum; }
    [[nodiscard]] bool isDragging() const { return m_pressed != 0; }
    // Global positions of the drag lines now shown (for tests and the gallery).
    [[nodiscard]] QList<QPoint> shownDragLines() const;

signals:
    // The bar was released after a drag: pixels moved, negative means left or up.
    void SplitterMoved(int delta);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    [[nodiscard]] DragLineOverlay* overlay();
    [[nodiscard]] QRect globalRect() const;

    int m_pressed = 0;
    int m_orientation = SPLIT_VERTICAL;
    int m_dragX = 0;
    int m_dragY = 0;
    int m_minimum = -1;
    int m_maximum = -1;
    int m_startPosition = 0;
    QPointer<DragLineOverlay> m_overlay;
};

} // namespace edb
