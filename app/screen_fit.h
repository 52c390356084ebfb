#pragma once
// Where a secondary window opens: at its wanted size, cut to the available area of the screen it
// opens on (its owner's), and moved inside that area, so a small screen never hides its buttons.
#include <QSize>

class QWidget;

namespace edbapp {

void FitOnScreen(QWidget& window, QSize wanted, const QWidget* owner = nullptr);

} // namespace edbapp
