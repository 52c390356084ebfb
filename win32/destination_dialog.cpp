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
        return why.empty() ? why : why + "; choose .eml files, mbox files or a PST file";
    }
    case ConvertTarget::Kind::Imap:
        return "Upload to an IMAP server is not in the Windows build: it has no IMAP connection "
               "code. Write .eml files or mbox files for a mail program to import, or a PST file for "
               "Outlook.";
    default:
        return {};
    }
}

namespace {

// The dialog's radio buttons, in the order the view layer lists the choices.
int KindId(ConvertTarget::Kind kind) {
    switch (kind) {
    case ConvertTarget::Kind::Mbox:
        return IDC_DEST_MBOX;
    case ConvertTarget::Kind::Pst:
        return IDC_DEST_PST;
    case ConvertTarget::Kind::Maildir:
        return IDC_DEST_MAILDIR;
    case ConvertTarget::Kind::Imap:
        return IDC_DEST_IMAP;
    case ConvertTarget::Kind::EmlFolder:
        break;
    }
    return IDC_DEST_EML;
}

} // namespace

std::optional<ConvertTarget> DestinationDialog::ask(HWND owner) {
    if (runModal(IDD_DESTINATION, owner) != IDOK) {
        return std::nullopt;
    }
    return m_result;
}

ConvertTarget DestinationDialog::shown() const {
    ConvertTarget t;
    for (const edb::views::DestinationChoice& c : edb::views::DestinationChoices()) {
        if (IsDlgButtonChecked(hwnd(), KindId(c.kind)) == BST_CHECKED) {
            t.kind = c.kind;
        }
    }
    t.folder = ItemText(hwnd(), IDC_DEST_FOLDER);
    return t;
}

void DestinationDialog::initialise() {
    for (const edb::views::DestinationChoice& c : edb::views::DestinationChoices()) {
        SetItemText(hwnd(), KindId(c.kind), c.caption);
        CheckDlgButton(hwnd(), KindId(c.kind),
                       c.kind == ConvertTarget::Kind::EmlFolder ? BST_CHECKED : BST_UNCHECKED);
    }
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
        case IDC_DEST_PST:
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
