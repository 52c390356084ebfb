// CLayoutResizer: keeps a resizable dialog's controls in place when its client area changes
// size. Each registered control follows the change with the edges its flags name; the client
// size at Attach is the minimum below which nothing moves.
//
// The dialog calls Resize from its resize handler. Controls are direct children of the dialog;
// a control registered by id is found through its "controlId" property (widgets/control_id.h).
#pragma once

#include <QPointer>
#include <QWidget>
#include <vector>

namespace edb {

class CLayoutResizer {
public:
    static constexpr int RESIZE_MOVE_X = 1;    // left and right edges follow the width change
    static constexpr int RESIZE_MOVE_Y = 2;    // top and bottom edges follow the height change
    static constexpr int RESIZE_STRETCH_X = 4; // the right edge follows the width change
    static constexpr int RESIZE_STRETCH_Y = 8; // the bottom edge follows the height change

    CLayoutResizer() = default;
    virtual ~CLayoutResizer() = default;
    CLayoutResizer(const CLayoutResizer&) = delete;
    CLayoutResizer& operator=(const CLayoutResizer&) = delete;

    // The dialog's current client size becomes the minimum and the base size.
    void Attach(QWidget* dialog);

    // Registers a control with flags (any combination of the four above). 1 when registered;
    // 0 when no dialog is attached or the control does not exist. Registering a control twice
    // gives two entries that act on their own.
    int AddControl(QWidget* control, int flags);
    int AddControl(int controlId, int flags);

    // Moves every registered control by the size change since the previous call.
    virtual void Resize();
    // Takes the dialog's current client size as the base of the next Resize.
    virtual void StoreBaseSize();

    [[nodiscard]] int entryCount() const { return static_cast<int>(m_entries.size()); }
    [[nodiscard]] QSize minimumSize() const { return {m_minimumWidth, m_minimumHeight}; }
    [[nodiscard]] QSize baseSize() const { return {m_baseWidth, m_baseHeight}; }

private:
    struct Entry {
        QPointer<QWidget> control;
        int flags;
    };

    QPointer<QWidget> m_parent;
    int m_baseWidth = 0;
    int m_baseHeight = 0;
    int m_minimumWidth = 0;
    int m_minimumHeight = 0;
    std::vector<Entry> m_entries;
};

} // namespace edb
