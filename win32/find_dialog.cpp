#include "win32/find_dialog.h"

#include "views/controls.h"
#include "views/message_list.h"
#include "views/message_search.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"

#include <commctrl.h>

#include <chrono>

namespace edbwin {

namespace {

constexpr std::size_t kBatchRows = 256;
constexpr auto kBatchTime = std::chrono::milliseconds(100);
constexpr UINT kFindInbox = WM_APP + 1;

} // namespace

FindDialog::FindDialog(const edb::StoreCatalog& catalog, edb::session::Session& session,
                       View view)
    : m_catalog(catalog), m_session(session), m_view(std::move(view)) {}

FindDialog::~FindDialog() {
    stopSearch();
    m_inbox.detach();
}

void FindDialog::initialise() {
    m_inbox.attach(hwnd(), kFindInbox);
    const HWND list = item(IDC_FIND_RESULTS);
    ListView_SetExtendedListViewStyle(list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT |
                                                LVS_EX_DOUBLEBUFFER);
    const int dateWidth =
        std::max(170, ListView_GetStringWidth(list, L"Wed 28/12/2024 12:59:59 PM") + 16);
    const std::pair<const wchar_t*, int> columns[] = {
        {L"Mailbox", 110}, {L"Folder", 150}, {L"From", 140}, {L"Subject", 200}, {L"Date", dateWidth}};
    int index = 0;
    for (const auto& [heading, width] : columns) {
        LVCOLUMNW c{};
        c.mask = LVCF_TEXT | LVCF_WIDTH;
        c.cx = width;
        c.pszText = const_cast<wchar_t*>(heading);
        ListView_InsertColumn(list, index++, &c);
    }
}

void FindDialog::stopSearch() {
    ++m_generation; // batches still queued from the old search are dropped
    if (m_cancel) {
        m_cancel->cancel(edb::StopReason::Superseded);
    }
    if (m_worker.joinable()) {
        m_worker.join();
    }
    if (m_searching && m_cancel) {
        m_session.finishTask(edb::session::Task::Find, m_cancel);
    }
    m_searching = false;
}

void FindDialog::startSearch() {
    stopSearch();
    edb::conv::SearchQuery query;
    query.text = ItemText(hwnd(), IDC_FIND_TEXT);
    const std::string after = ItemText(hwnd(), IDC_FIND_AFTER);
    const std::string before = ItemText(hwnd(), IDC_FIND_BEFORE);
    if (!after.empty()) {
        query.after = edb::conv::LocalDayStart(after);
    }
    if (!before.empty()) {
        // The To day is included: the search ends where the next day starts.
        if (const auto day = edb::conv::LocalDayStart(before)) {
            query.before = *day + 24ULL * 3600 * 10000000;
        }
    }
    if ((!after.empty() && !query.after) || (!before.empty() && !query.before)) {
        SetItemText(hwnd(), IDC_FIND_STATUS, "Dates are written yyyy-mm-dd, as 2004-05-03.");
        return;
    }
    m_rows.clear();
    ListView_SetItemCount(item(IDC_FIND_RESULTS), 0);
    EnableWindow(item(IDC_FIND_OPEN), FALSE);
    m_searching = true;
    SetItemText(hwnd(), IDC_FIND_STATUS, "Searching...");
    const std::uint64_t generation = m_generation;
    m_cancel = std::make_shared<edb::CancelToken>();
    m_session.startTask(edb::session::Task::Find, m_cancel);
    m_worker = std::thread([this, query, generation, cancel = m_cancel] {
        edb::conv::FolderPaths paths(m_catalog);
        std::vector<FoundRow> batch;
        auto sent = std::chrono::steady_clock::now();
        const auto send = [&](bool last) {
            m_inbox.post([this, generation, rows = std::move(batch), last]() mutable {
                deliver(generation, std::move(rows), last);
            });
            batch.clear();
            sent = std::chrono::steady_clock::now();
        };
        (void)edb::conv::FindMessages(
            m_catalog, paths, query,
            [&](edb::conv::SearchMatch&& m) {
                const edb::conv::FolderPath& folder = *m.folder;
                std::string path = folder.treePath;
                if (!path.empty()) {
                    path.pop_back(); // the tree's trailing backslash
                }
                batch.push_back(FoundRow{{folder.attached ? folder.names.front() : std::string(),
                                          path, m.sender, m.subject,
                                          edb::views::ListDateText(m.filetime)},
                                         m.entry});
                if (batch.size() >= kBatchRows ||
                    std::chrono::steady_clock::now() - sent >= kBatchTime) {
                    send(false);
                }
                return !cancel->cancelled();
            },
            cancel->flag());
        send(true);
    });
}

void FindDialog::deliver(std::uint64_t generation, std::vector<FoundRow>&& rows, bool last) {
    if (generation != m_generation) {
        return; // a newer search took over
    }
    for (FoundRow& r : rows) {
        m_rows.push_back(std::move(r));
    }
    ListView_SetItemCountEx(item(IDC_FIND_RESULTS), static_cast<int>(m_rows.size()),
                            LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    if (last) {
        m_searching = false;
        m_session.finishTask(edb::session::Task::Find, m_cancel);
        SetItemText(hwnd(), IDC_FIND_STATUS, std::to_string(m_rows.size()) + " message(s) found");
    } else {
        SetItemText(hwnd(), IDC_FIND_STATUS,
                    "Searching... " + std::to_string(m_rows.size()) + " found");
    }
}

void FindDialog::viewSelected() {
    const int row = ListView_GetNextItem(item(IDC_FIND_RESULTS), -1, LVNI_SELECTED);
    if (row >= 0 && static_cast<std::size_t>(row) < m_rows.size()) {
        m_view(m_rows[static_cast<std::size_t>(row)].entry);
    }
}

INT_PTR FindDialog::notify(const NMHDR& header) {
    if (header.idFrom != IDC_FIND_RESULTS) {
        return FALSE;
    }
    switch (header.code) {
    case LVN_GETDISPINFOW: {
        LVITEMW& cell = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header))->item;
        if ((cell.mask & LVIF_TEXT) == 0 || cell.pszText == nullptr || cell.cchTextMax <= 0) {
            return TRUE;
        }
        cell.pszText[0] = L'\0';
        if (cell.iItem >= 0 && static_cast<std::size_t>(cell.iItem) < m_rows.size()) {
            const FoundRow& row = m_rows[static_cast<std::size_t>(cell.iItem)];
            if (cell.iSubItem >= 0 && static_cast<std::size_t>(cell.iSubItem) < row.cells.size()) {
                m_cellText = Wide(row.cells[static_cast<std::size_t>(cell.iSubItem)]);
                lstrcpynW(cell.pszText, m_cellText.c_str(), cell.cchTextMax);
            }
        }
        return TRUE;
    }
    case LVN_ITEMCHANGED:
        EnableWindow(item(IDC_FIND_OPEN),
                     ListView_GetNextItem(header.hwndFrom, -1, LVNI_SELECTED) >= 0);
        return TRUE;
    case NM_DBLCLK:
        activateResult();
        return TRUE;
    default:
        return FALSE;
    }
}

void FindDialog::activateResult() {
    // What Enter and a double click do on a result is the rule views/ gives Find's results.
    const bool hasRow = ListView_GetNextItem(item(IDC_FIND_RESULTS), -1, LVNI_SELECTED) >= 0;
    if (edb::views::ActivateAction(edb::views::ListKind::FindResults, hasRow) ==
        edb::views::ListAction::ViewMessage) {
        viewSelected();
    }
}

INT_PTR FindDialog::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initialise();
        return TRUE;
    case kFindInbox:
        m_inbox.run();
        return TRUE;
    case WM_NOTIFY:
        return notify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDC_FIND_GO: // also Enter: on the results it opens the message, elsewhere it searches
            if (GetFocus() == item(IDC_FIND_RESULTS)) {
                activateResult();
            } else {
                startSearch();
            }
            return TRUE;
        case IDC_FIND_OPEN:
            viewSelected();
            return TRUE;
        case IDCANCEL:
            stopSearch();
            ShowWindow(hwnd(), SW_HIDE); // kept, with its results, for the next Find
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        SendMessageW(hwnd(), WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace edbwin
