#include "widgets/link_button.h"

#include "platform/platform.h"
#include "widgets/system_metrics.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

namespace edb {

namespace {

bool isActivationKey(const QKeyEvent* key) {
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

// Events that stand for input addressed to the button; any of them between the press and the
// release of Enter cancels the activation.
bool isInputEvent(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::Timer:
        return true;
    default:
        return false;
    }
}

// Shows the wait cursor for as long as it lives.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

CLinkButton::CLinkButton(QWidget* parent)
    : QPushButton(parent), m_normalColour(highlightColour(this)),
      m_hoverColour(hotTrackColour(this)), m_disabledColour(grayTextColour(this)) {
    // Never the dialog's default button: Enter belongs to the link while it has the focus.
    setAutoDefault(false);
    setDefault(false);
    setFlat(true);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::clicked, this, &CLinkButton::activate);
}

CLinkButton::CLinkButton(const QString& text, QWidget* parent) : CLinkButton(parent) {
    setText(text);
}

QColor CLinkButton::currentTextColour() const {
    if (!isEnabled())
        return m_disabledColour;
    if (m_hover)
        return m_hoverColour;
    if (m_visited)
        return m_visitedColour;
    return m_normalColour;
}

QFont CLinkButton::linkFont() {
    if (!m_linkFont) {
        QFont f = font();
        f.setWeight(QFont::ExtraBold);
        f.setUnderline(true);
        // 14 is the cell height (ascent plus descent), not the em size.
        int size = kFontHeight;
        f.setPixelSize(size);
        while (size > 1 && QFontMetrics(f).height() > kFontHeight)
            f.setPixelSize(--size);
        m_linkFont = f;
    }
    return *m_linkFont;
}

bool CLinkButton::event(QEvent* e) {
    // Keys are decided here, before the button's own handling sees them.
    if (e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Space || isActivationKey(key)) {
            m_keyPressed = 1;
            e->accept();
            return true;
        }
    } else if (e->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Space) {
            e->accept();
            return true;
        }
        if (isActivationKey(key) && m_keyPressed) {
            m_keyPressed = 0;
            activate();
            e->accept();
            return true;
        }
    } else if (e->type() == QEvent::ShortcutOverride) {
        // Claim Enter and Space so that no shortcut takes them from the focused link.
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Space || isActivationKey(key)) {
            e->accept();
            return true;
        }
    }
    if (isInputEvent(e->type()))
        m_keyPressed = 0;
    return QPushButton::event(e);
}

void CLinkButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (isEnabled())
        p.setFont(linkFont());
    p.setPen(currentTextColour());
    // Only the text: no background, no focus rectangle, no pressed look.
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text());
}

void CLinkButton::mouseMoveEvent(QMouseEvent* e) {
    if (!m_tracking) {
        m_hoverTimer.start(kHoverDelayMs, this);
        m_tracking = 1;
    }
    QPushButton::mouseMoveEvent(e);
}

void CLinkButton::timerEvent(QTimerEvent* e) {
    if (e->timerId() != m_hoverTimer.timerId()) {
        QPushButton::timerEvent(e);
        return;
    }
    // Fires once per tracking: after an activation the hover colour returns only when the
    // pointer has left and come to rest on the link again.
    m_hoverTimer.stop();
    m_hover = 1;
    update();
}

void CLinkButton::leaveEvent(QEvent* e) {
    m_hoverTimer.stop();
    m_tracking = 0;
    m_hover = 0;
    update();
    QPushButton::leaveEvent(e);
}

void CLinkButton::focusOutEvent(QFocusEvent* e) {
    QPushButton::focusOutEvent(e);
    update();
}

void CLinkButton::activate() {
    if (!isEnabled())
        return;
    WaitCursor wait;
    const QString target = text();
    if (target != QLatin1String("Contact Us") && !platform().openWithDefaultHandler(target) &&
        parentWidget()) {
        // Without a mail client the link stays unvisited, so it can be tried again.
        if (!sendMailFallback(target))
            return;
    }
    m_visited = 1;
    m_hover = 0;
    update();
}

bool CLinkButton::sendMailFallback(const QString& target) {
    MailDraft draft;
    draft.recipient = QStringLiteral("SMTP:") + target;
    return platform().composeMail(draft);
}

} // namespace edb
