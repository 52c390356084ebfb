// CLinkButton: a push button drawn as a hyperlink.
//
// Bold underlined text and no background, a pointing-hand cursor, a colour that changes while
// the pointer rests on it (hover wins over visited) and after it has been used. Activating it
// (a click, or Enter released after its press reached the button; Space never) opens the text
// with the system's default handler through the platform seam. When that fails, a mail compose
// window addressed to "SMTP:" plus the text opens instead. "Contact Us" opens nothing.
#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QFont>
#include <QPushButton>
#include <optional>

namespace edb {

class CLinkButton : public QPushButton {
    Q_OBJECT

public:
    static constexpr int kFontHeight = 14;  // cell height of the link font, in pixels
    static constexpr int kHoverDelayMs = 1; // pointer rest before the hover colour shows
    static inline const QColor kVisitedColour{128, 0, 128};

    explicit CLinkButton(QWidget* parent = nullptr);
    explicit CLinkButton(const QString& text, QWidget* parent = nullptr);

    [[nodiscard]] QColor normalColour() const { return m_normalColour; }
    [[nodiscard]] QColor hoverColour() const { return m_hoverColour; }
    [[nodiscard]] QColor visitedColour() const { return m_visitedColour; }
    [[nodiscard]] QColor disabledColour() const { return m_disabledColour; }
    [[nodiscard]] bool isHover() const { return m_hover != 0; }
    [[nodiscard]] bool isVisited() const { return m_visited != 0; }
    // The colour the text is drawn in now.
    [[nodiscard]] QColor currentTextColour() const;
    // The bold underlined link font made from the button's font (created on first use).
    [[nodiscard]] QFont linkFont();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void activate();
    [[nodiscard]] bool sendMailFallback(const QString& target);

    QColor m_normalColour;
    QColor m_hoverColour;
    QColor m_visitedColour = kVisitedColour;
    QColor m_disabledColour;
    int m_hover = 0;
    int m_tracking = 0;
    int m_visited = 0;
    std::optional<QFont> m_linkFont;
    int m_keyPressed = 0;
    QBasicTimer m_hoverTimer;
};

} // namespace edb
