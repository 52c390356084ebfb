// Numeric control ids for widgets, as the dialogs number their controls.
//
// A control's id is the int dynamic property "controlId" (kControlIdProperty); widgets without
// the property have no id. findControl searches all descendants of a dialog, the first match
// in creation order wins.
#pragma once

#include <QWidget>

namespace edb {

inline constexpr const char* kControlIdProperty = "controlId";

void setControlId(QWidget* control, int id);
// The control's id, or -1 when it has none.
[[nodiscard]] int controlId(const QWidget* control);
// The descendant of dialog with the id, or null (also when dialog is null).
[[nodiscard]] QWidget* findControl(const QWidget* dialog, int id);

} // namespace edb
