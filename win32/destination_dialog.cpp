#include "win32/destination_dialog.h"

#include "deliver/output_file.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"

#include <string>

namespace edbwin {

std::string TargetUnavailableReason(ConvertTarget::Kind kind) {
    switch (kind) {
    case ConvertTarget::Kind::Maildir: {
        const std::string why = edb::conv::MaildirUnavailableReason();
        return why.empty() ? why : why + "; choose .eml files or mbox files";
    }
    case ConvertTarget::Kind::Imap:
        return "Upload to an IMAP server is not in the Windows build: it has no IMAP connection "
               "code. Write .eml files or mbox files for a mail program to import.";
    default:
        return {};
    }
}

namespace {

constexpr int kKindIds[] = {IDC_DEST_EML, IDC_DEST_MBOX, IDC_DEST_MAILDIR, IDC_DEST_IMAP};

} // namespace

std::optional<ConvertTarget> DestinationDialog::ask(HWND owner) {
    if (runModal(IDD_DESTINATION, owner) != IDOK) {
        return std::nullopt;
    }
    return m_result;
}

ConvertTarget DestinationDialog::shown() const {
    ConvertTarget t;
    for (int i = 0; i < 4; ++i) {
        if (IsDlgButtonChecked(hwnd(), kKindIds[i]) == BST_CHECKED) {
            t.kind = static_cast<ConvertTarget::Kind>(i);
        }
    }
    t.folder = ItemText(hwnd(), IDC_DEST_FOLDER);
    return t;
}

void DestinationDialog::initialise() {
    CheckRadioButton(hwnd(), IDC_DEST_EML, IDC_DEST_IMAP, IDC_DEST_EML);
    kindChanged();
}

void DestinationDialog::kindChanged() {
    // Said at once, not only at OK: the user should not fill in a folder for nothing.
    const std::string why = TargetUnavailableReason(shown().kind);
    SetItemText(hwnd(), IDC_DEST_NOTE, why);
    EnableWindow(item(IDC_DEST_FOLDER), why.empty());
    EnableWindow(item(IDC_DEST_BROWSE), why.empty());
}

void DestinationDialog::accept() {
    const ConvertTarget t = shown();
    if (const std::string why = TargetUnavailableReason(t.kind); !why.empty()) {
        m_prompts.showError(hwnd(), why);
        return;
    }
    if (t.folder.empty()) {
        m_prompts.showError(hwnd(), "Please choose the output folder");
        return;
    }
    m_result = t;
    close(IDOK);
}

INT_PTR DestinationDialog::handle(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        initialise();
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_DEST_EML:
        case IDC_DEST_MBOX:
        case IDC_DEST_MAILDIR:
        case IDC_DEST_IMAP:
            if (HIWORD(wParam) == BN_CLICKED) {
                kindChanged();
            }
            return TRUE;
        case IDC_DEST_BROWSE:
            if (const std::string folder = m_prompts.chooseFolder(hwnd(), "Select Output Folder");
                !folder.empty()) {
                SetItemText(hwnd(), IDC_DEST_FOLDER, folder);
            }
            return TRUE;
        case IDOK:
            accept();
            return TRUE;
        case IDCANCEL:
            close(IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

} // namespace edbwin
