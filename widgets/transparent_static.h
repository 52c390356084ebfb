// CTransparentStatic: a label with no background of its own, so the dialog's bitmap shows
// through around its glyphs. Font and text colour are the dialog's.
#pragma once

#include <QLabel>

namespace edb {

class CTransparentStatic : public QLabel {
    Q_OBJECT

public:
    explicit CTransparentStatic(QWidget* parent = nullptr);
    explicit CTransparentStatic(const QString& text, QWidget* parent = nullptr);

    // Sets the text, then has the parent repaint its background under the label at once, so a
    // shorter text leaves nothing of the longer one behind. (Calls through a QLabel pointer get
    // the same result from Qt's repaint of non-opaque children, only later.)
    void setText(const QString& text);
};

} // namespace edb
