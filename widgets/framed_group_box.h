// CFramedGroupBox: a group box that paints its own frame and caption over the dialog's bitmap
// and nothing else, so the bitmap shows inside the frame and in the caption's gap.
//
// The caption is the title framed by one space on each side; an empty title still leaves a
// gap of two spaces. Title alignment (left, right, centre) and isFlat() choose the caption
// place and the pens; setEdgeStyle() adds the extended border styles that shrink the frame.
#pragma once

#include <QGroupBox>

namespace edb {

class CFramedGroupBox : public QGroupBox {
    Q_OBJECT

public:
    // Extended border styles, by their window-style values.
    static constexpr unsigned kDialogModalFrame = 0x1;
    static constexpr unsigned kClientEdge = 0x200;
    static constexpr unsigned kStaticEdge = 0x20000;

    explicit CFramedGroupBox(QWidget* parent = nullptr);
    explicit CFramedGroupBox(const QString& title, QWidget* parent = nullptr);

    void setEdgeStyle(unsigned edges);
    [[nodiscard]] unsigned edgeStyle() const { return m_edges; }

    // Where the frame and the caption go, in the box's own coordinates (right and bottom are
    // one past the last pixel). Exposed for tests.
    struct Geometry {
        int left = 0, top = 0, right = 0, bottom = 0; // the frame after the border styles
        int captionLeft = 0;
        int captionRight = 0;
        int lineY = 0;
        int captionHeight = 0;
    };
    [[nodiscard]] Geometry frameGeometry(const QFontMetrics& metrics) const;
    [[nodiscard]] QString caption() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    unsigned m_edges = 0;
};

} // namespace edb
