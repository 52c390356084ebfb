#pragma once
// The bar between the folder tree and the message list: dragged with the mouse, it tells its
// dialog how far it moved (kSplitterMessage, the distance in pixels as lParam), kept within
// 50 pixels left and 500 pixels right of where it started.
#include <windows.h>

namespace edbwin {

// Registers the window class the dialog template names ("EdbSplitterBar"); once per process.
void RegisterSplitterBar();

} // namespace edbwin
