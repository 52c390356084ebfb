#include "win32/start.h"

#include "win32/splitter_bar.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

namespace edbwin {

bool PrepareProcess() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES |
                     ICC_PROGRESS_CLASS | ICC_LINK_CLASS | ICC_STANDARD_CLASSES;
    const bool ok = InitCommonControlsEx(&controls) != FALSE;
    // The file dialogs are COM objects; the window thread is their apartment.
    (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    RegisterSplitterBar();
    return ok;
}

} // namespace edbwin
