#include "win32/progress_dialog.h"

#include "win32/resource_ids.h"
#include "win32/wide_text.h"

#include <commctrl.h>

namespace edbwin {

void ProgressDialog::show(const std::string& label, int percent) {
    SetItemText(hwnd(), IDC_PROGRESS_LABEL, label);
    SendMessageW(item(IDC_PROGRESS_BAR), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

INT_PTR ProgressDialog::handle(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SendMessageW(item(IDC_PROGRESS_BAR), PBM_SETRANGE32, 0, 100);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            // The work stops between messages; the summary closes this dialog.
            EnableWindow(item(IDCANCEL), FALSE);
            SetItemText(hwnd(), IDC_PROGRESS_LABEL, "Cancelling...");
            m_cancel();
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        SendMessageW(hwnd(), WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace edbwin
