#include "widgets/control_id.h"

#include <QVariant>

namespace edb {

void setControlId(QWidget* control, int id) {
    if (control)
        control->setProperty(kControlIdProperty, id);
}

int controlId(const QWidget* control) {
    if (!control)
        return -1;
    bool ok = false;
    const int id = control->property(kControlIdProperty).toInt(&ok);
    return ok ? id : -1;
}

QWidget* findControl(const QWidget* dialog, int id) {
    if (!dialog)
        return nullptr;
    const auto children = dialog->findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (controlId(child) == id)
            return child;
    }
    return nullptr;
}

} // namespace edb
