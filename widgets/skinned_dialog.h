// The skinned dialog surface: a dialog whose background is a full-size bitmap.
//
// The bitmap is painted at the client origin in its natural size, never stretched or tiled.
// The framework's own background fill (the palette's window colour) comes first, so a dialog
// without a bitmap, or the part of a larger dialog outside it, keeps the normal dialog colour.
#pragma once

#include <QDialog>
#include <QPixmap>

class QPainter;

namespace edb {

// Paints background at (0, 0) in its own size. false (nothing painted) when it is null.
bool paintDialogBackground(QPainter& painter, const QPixmap& background);

class CSkinnedDialog : public QDialog {
    Q_OBJECT

public:
    // Loads the background from resourcePath (e.g. ":/artwork/main-background.png"); a
    // failed load leaves the dialog without one.
    explicit CSkinnedDialog(const QString& resourcePath, QWidget* parent = nullptr);

    [[nodiscard]] const QPixmap& background() const { return m_background; }
    void setBackground(const QPixmap& background);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_background;
};

} // namespace edb
