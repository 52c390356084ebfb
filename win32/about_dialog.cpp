#include "win32/about_dialog.h"

#include "win32/resource_ids.h"
#include "win32/wide_text.h"
#include "win32/window_texts.h"

#include <commctrl.h>

namespace edbwin {

std::string AboutText() {
    return std::string(kCaption) + " " EDB_VERSION "\n\n" + edb::views::kAboutTextWindows;
}

INT_PTR AboutDialog::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetItemText(hwnd(), IDC_ABOUT_TITLE, AboutText());
        return TRUE;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code == NM_CLICK || header->code == NM_RETURN) {
            if (header->idFrom == IDC_WEB_LINK) {
                m_prompts.openWithDesktop(kWebAddress);
            } else if (header->idFrom == IDC_MAIL_LINK) {
                m_prompts.openWithDesktop(std::string("mailto:") + kSupportAddress);
            }
            return TRUE;
        }
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            close(LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace edbwin
