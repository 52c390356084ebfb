#include "win32/viewer_dialog.h"

#include "content/html_text.h"
#include "deliver/output_names.h"
#include "views/message_search.h"
#include "mime/eml_writer.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"

#include <commctrl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace edbwin {

std::string SizeText(std::uint64_t bytes) {
    char text[64];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1024ULL * 1024) {
        std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024);
    } else {
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024));
    }
    return text;
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

// Written whole, or an error naming the file.
bool WriteFileBytes(const std::string& path, const void* data, std::size_t size,
                    std::string& error) {
    std::ofstream out(std::filesystem::path(Wide(path)), std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        error = "Unable to save " + path + ": the file could not be written";
        return false;
    }
    return true;
}

} // namespace

ViewerDialog::ViewerDialog(const edb::StoreCatalog& catalog, const edb::MessageEntry& message,
                           Prompts& prompts)
    : m_prompts(prompts), m_fallbackSubject(message.subject) {
    const edb::conv::FolderPath folder = edb::conv::MessageFolderPath(catalog, message);
    std::string eml;
    try {
        const edb::conv::StoreReader reader(catalog.storeFile, catalog.storeSize);
        m_content = edb::conv::ReadMessageContent(
            reader, edb::conv::SnapshotMessage(catalog, message), folder);
        eml = edb::conv::WriteEml(m_content.eml);
    } catch (const std::exception& e) {
        m_content.notes.push_back(std::string("the store file could not be read: ") + e.what());
    }
    m_headers = edb::conv::ReadEmlHeaders(eml);
    const edb::conv::EmlInput& in = m_content.eml;
    // No HTML engine here: an HTML body shows as the text a reader sees; nothing is fetched.
    if (in.html) {
        m_body = edb::conv::HtmlVisibleText(*in.html);
    } else if (in.plainText) {
        m_body = *in.plainText;
    } else if (in.rtf) {
        m_body = "(The body is formatted text (RTF); the .eml file keeps it as an attachment.)";
    }
    m_body = WithCrLf(m_body);
}

void ViewerDialog::initialise() {
    const std::string& subject = m_headers.subject.empty() ? m_fallbackSubject : m_headers.subject;
    SetWindowText(hwnd(), subject.empty() ? std::string("Message") : subject);
    SetItemText(hwnd(), IDC_VIEW_FROM, m_headers.from);
    SetItemText(hwnd(), IDC_VIEW_TO,
                m_headers.to.empty() ? std::string("(not recorded in the store)") : m_headers.to);
    SetItemText(hwnd(), IDC_VIEW_DATE, m_headers.date);
    SetItemText(hwnd(), IDC_VIEW_SUBJECT, m_headers.subject);
    SetItemText(hwnd(), IDC_VIEW_BODY, m_body);
    EnableWindow(item(IDC_VIEW_BROWSER), m_content.eml.html.has_value());

    const HWND list = item(IDC_VIEW_ATTACHMENTS);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH;
    c.cx = 380;
    c.pszText = const_cast<wchar_t*>(L"Attachment");
    ListView_InsertColumn(list, 0, &c);
    c.cx = 110;
    c.pszText = const_cast<wchar_t*>(L"Size");
    ListView_InsertColumn(list, 1, &c);
    int row = 0;
    for (const edb::conv::EmlAttachment& a : m_content.eml.attachments) {
        std::wstring name = Wide(a.name);
        std::wstring size = Wide(SizeText(a.bytes.size()));
        LVITEMW i{};
        i.mask = LVIF_TEXT;
        i.iItem = row;
        i.pszText = name.data();
        ListView_InsertItem(list, &i);
        ListView_SetItemText(list, row, 1, size.data());
        ++row;
    }
    EnableWindow(item(IDC_VIEW_SAVE), !m_content.eml.attachments.empty());
    std::string notes;
    for (const std::string& n : m_content.notes) {
        notes += "\xE2\x80\xA2 " + n + "\r\n";
    }
    SetItemText(hwnd(), IDC_VIEW_NOTES, notes);
}

void ViewerDialog::saveAttachment(std::size_t index) {
    const auto& list = m_content.eml.attachments;
    if (index >= list.size()) {
        return;
    }
    const edb::conv::EmlAttachment& a = list[index];
    const std::string path = m_prompts.chooseSaveFile(
        hwnd(), "Save Attachment", edb::conv::SanitizeName(a.name, "attachment"));
    if (path.empty()) {
        return;
    }
    std::string error;
    if (!WriteFileBytes(path, a.bytes.data(), a.bytes.size(), error)) {
        m_prompts.showError(hwnd(), error);
    }
}

void ViewerDialog::openInBrowser() {
    if (!m_content.eml.html) {
        return;
    }
    // The original HTML, in a file of its own under the user's temporary folder; the browser
    // is the user's choice to load what it links to.
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) {
        m_prompts.showError(hwnd(), "Unable to open the message: no temporary folder");
        return;
    }
    const std::string name = edb::conv::SanitizeName(
                                 m_headers.subject.empty() ? "message" : m_headers.subject,
                                 "message")
                                 .substr(0, 80) +
                             ".html";
    const std::string path = Utf8(temp) + name;
    std::string error;
    const std::string& html = *m_content.eml.html;
    if (!WriteFileBytes(path, html.data(), html.size(), error)) {
        m_prompts.showError(hwnd(), error);
        return;
    }
    if (!m_prompts.openWithDesktop(path)) {
        m_prompts.showError(hwnd(), "Unable to open " + path + ": no program for HTML files");
    }
}

INT_PTR ViewerDialog::handle(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        initialise();
        // The reader starts in the text, not with the sender selected.
        SetFocus(item(IDC_VIEW_BODY));
        SendMessageW(item(IDC_VIEW_BODY), EM_SETSEL, 0, 0);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_VIEW_SAVE: {
            const int selected =
                ListView_GetNextItem(item(IDC_VIEW_ATTACHMENTS), -1, LVNI_SELECTED);
            saveAttachment(selected >= 0 ? static_cast<std::size_t>(selected) : 0);
            return TRUE;
        }
        case IDC_VIEW_BROWSER:
            openInBrowser();
            return TRUE;
        case IDCANCEL:
            close();
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        close();
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace edbwin
