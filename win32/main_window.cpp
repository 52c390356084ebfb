// The main dialog: set-up, the commands that need no worker, the end of the run.
#include "win32/main_window.h"

#include "win32/find_dialog.h"
#include "win32/progress_dialog.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"
#include "win32/viewer_dialog.h"
#include "win32/window_texts.h"
#include "views/controls.h"
#include "views/texts.h"

#include <shellapi.h>
#include <windowsx.h>

namespace edbwin {

namespace {

constexpr int kStatusPaneRest = 300;

// Column widths are given for 96 DPI; the screen's DPI scales them.
int ScaledWidth(HWND list, int width) {
    const UINT dpi = GetDpiForWindow(list);
    return dpi == 0 ? width : MulDiv(width, static_cast<int>(dpi), 96);
}

void AddColumn(HWND list, int index, const wchar_t* heading, int width) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = ScaledWidth(list, width);
    column.pszText = const_cast<wchar_t*>(heading);
    ListView_InsertColumn(list, index, &column);
}

} // namespace

MainWindow::MainWindow(edb::StoreCatalog& catalog, Prompts& prompts)
    : m_catalog(catalog), m_prompts(prompts) {}

MainWindow::~MainWindow() {
    shutdownWorkers();
    if (m_folderImages != nullptr) {
        ImageList_Destroy(m_folderImages);
    }
    if (m_background != nullptr) {
        DeleteObject(m_background);
    }
}

bool MainWindow::create() {
    return Dialog::create(IDD_MAIN, nullptr);
}

void MainWindow::shutdownWorkers() {
    m_inbox.detach();
    m_session.cancelAll(edb::StopReason::Shutdown);
    m_workers.cancelAll(edb::StopReason::Shutdown);
    m_workers.joinAll();
    m_pending = 0;
}

void MainWindow::endRun(int status) {
    // Every end of the run comes here (Close, Exit, Enter, Esc), so each ends its work the
    // same way before the window goes.
    m_exitStatus = status;
    shutdownWorkers();
    m_viewers.clear();
    m_find.reset();
    m_progress.reset();
    close();
    PostQuitMessage(m_exitStatus);
}

std::size_t MainWindow::folderOf(HTREEITEM item) const {
    const auto at = m_folders.find(item);
    return at == m_folders.end() ? edb::kNoFolder : at->second;
}

void MainWindow::initialise() {
    m_inbox.attach(hwnd(), kInboxMessage);
    const HICON big = static_cast<HICON>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(IDI_APP),
                                                    IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                    GetSystemMetrics(SM_CYICON), 0));
    const HICON small = static_cast<HICON>(
        LoadImageW(ResourceModule(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    if (HMENU system = GetSystemMenu(hwnd(), FALSE)) {
        AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(system, MF_STRING, IDM_ABOUT_SYSTEM,
                    Wide(std::string("&About ") + kCaption + "...").c_str());
    }
    m_background = static_cast<HBITMAP>(LoadImageW(ResourceModule(),
                                                   MAKEINTRESOURCEW(IDB_MAIN_BACKGROUND),
                                                   IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    setUpLists();
    createStatusBar();
    wchar_t current[MAX_PATH * 4] = {};
    const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(std::size(current)), current);
    m_startupDirectory = n > 0 && n < std::size(current) ? Utf8(current) : std::string();
    DragAcceptFiles(hwnd(), TRUE);
    applyCommands();
}

void MainWindow::setUpLists() {
    const DWORD extended = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
    const HWND mailboxes = item(IDC_MAILBOX_LIST);
    ListView_SetExtendedListViewStyle(mailboxes, extended);
    AddColumn(mailboxes, 0, L"User Mailbox Name", 640);
    const HWND messages = item(IDC_MESSAGE_LIST);
    ListView_SetExtendedListViewStyle(messages, extended);
    showColumns({{"No", 50}, {"From", 130}, {"E-mail Subject", 180}, {"Date", 150}});

    // Check boxes are asked for after creation, as the tree view wants them.
    const HWND tree = item(IDC_FOLDER_TREE);
    SetWindowLongPtrW(tree, GWL_STYLE, GetWindowLongPtrW(tree, GWL_STYLE) | TVS_CHECKBOXES);
    const int size = GetSystemMetrics(SM_CXSMICON);
    m_folderImages = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, FOLDER_IMAGE_COUNT, 0);
    for (int i = 0; i < FOLDER_IMAGE_COUNT; ++i) {
        const HICON icon = static_cast<HICON>(LoadImageW(
            ResourceModule(), MAKEINTRESOURCEW(IDI_FOLDER_FIRST + i), IMAGE_ICON, size, size, 0));
        ImageList_AddIcon(m_folderImages, icon);
        DestroyIcon(icon);
    }
    TreeView_SetImageList(tree, m_folderImages, TVSIL_NORMAL);
}

void MainWindow::createStatusBar() {
    m_status = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                               hwnd(), reinterpret_cast<HMENU>(IDC_STATUS_BAR), ResourceModule(),
                               nullptr);
    // The bar sits below the template's area: the window grows by its height.
    RECT bar{};
    GetWindowRect(m_status, &bar);
    RECT window{};
    GetWindowRect(hwnd(), &window);
    SetWindowPos(hwnd(), nullptr, 0, 0, window.right - window.left,
                 window.bottom - window.top + (bar.bottom - bar.top),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(m_status, WM_SIZE, 0, 0);
    RECT client{};
    GetClientRect(hwnd(), &client);
    int panes[] = {std::max(100, static_cast<int>(client.right) - kStatusPaneRest), -1};
    SendMessageW(m_status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(panes));
    showStatus(std::string(" ") + kCaption);
    SendMessageW(m_status, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(Wide(kWebAddress).c_str()));
}

void MainWindow::showStatus(const std::string& text) {
    SendMessageW(m_status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

void MainWindow::paintBackground(HDC dc) {
    // The background art, scaled to the client area above the status bar.
    RECT client{};
    GetClientRect(hwnd(), &client);
    BITMAP info{};
    const HDC memory = CreateCompatibleDC(dc);
    if (m_background == nullptr || memory == nullptr ||
        GetObjectW(m_background, sizeof info, &info) == 0) {
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        if (memory != nullptr) {
            DeleteDC(memory);
        }
        return;
    }
    const HGDIOBJ old = SelectObject(memory, m_background);
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, info.bmWidth, info.bmHeight,
               SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

void MainWindow::applyCommands() {
    // Every button and menu item as the session's step allows it, after every step.
    const edb::views::ControlStates c = edb::views::ControlStatesOf(m_session);
    const HMENU menu = GetMenu(hwnd());
    const auto menuItem = [menu](UINT id, bool on) {
        EnableMenuItem(menu, id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
    };
    EnableWindow(item(IDC_BROWSE), c.browse);
    menuItem(IDM_OPEN, c.browse);
    EnableWindow(item(IDC_STOP), c.stop);
    EnableWindow(item(IDC_NEXT), c.next);
    EnableWindow(item(IDC_NEXT_USER_MAILBOX), c.nextUserMailbox);
    EnableWindow(item(IDC_BACK_USER_MAILBOX), c.backUserMailbox);
    EnableWindow(item(IDC_CONVERT), c.convert);
    menuItem(IDM_SAVE, c.save);
    menuItem(IDM_FIND, c.find);
}

INT_PTR MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initialise();
        return TRUE;
    case WM_COMMAND:
        command(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY:
        return notify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUT_SYSTEM) {
            about();
            return TRUE;
        }
        return FALSE;
    case WM_ERASEBKGND:
        paintBackground(reinterpret_cast<HDC>(wParam));
        SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, 1);
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        // The frames' captions lie on the background art.
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        if (id == IDC_PATH_FRAME || id == IDC_PROGRESS_FRAME) {
            SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
            return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
        }
        return FALSE;
    }
    case WM_DROPFILES:
        dropFiles(reinterpret_cast<HDROP>(wParam));
        return TRUE;
    case WM_CLOSE:
        closeRequested();
        return TRUE;
    case kInboxMessage:
        m_inbox.run();
        return TRUE;
    case kProgressMessage:
        showProgress(m_latestProgress->exchange(-1));
        return TRUE;
    case kTickMessage:
        tickToggled(reinterpret_cast<HTREEITEM>(lParam));
        return TRUE;
    case kSplitterMessage:
        splitterMoved(static_cast<int>(lParam));
        return TRUE;
    default:
        return FALSE;
    }
}

void MainWindow::command(int id, int code) {
    switch (id) {
    case IDC_BROWSE:
    case IDM_OPEN:
        browse();
        break;
    case IDC_STOP:
        stop();
        break;
    case IDC_NEXT:
        next();
        break;
    case IDC_NEXT_USER_MAILBOX:
    case IDM_SAVE:
        nextUserMailbox();
        break;
    case IDC_BACK_USER_MAILBOX:
        backUserMailbox();
        break;
    case IDC_CONVERT:
        convert();
        break;
    case IDM_FIND:
        openFind();
        break;
    case IDM_EXIT:
        exitCommand();
        break;
    case IDM_CONTENT:
        help();
        break;
    case IDM_ABOUT:
        about();
        break;
    case IDOK:
        enterPressed();
        break;
    case IDCANCEL:
        endRun(); // Esc: the dialog's Cancel ends the run without a question
        break;
    default:
        (void)code;
        break;
    }
}

void MainWindow::enterPressed() {
    // Enter acts on the row of the list that has the focus, as views/ says for that list;
    // where no list has it, it is the dialog's OK and ends the run.
    const HWND focus = GetFocus();
    if (focus == item(IDC_MESSAGE_LIST)) {
        activate(edb::views::ListKind::Messages);
    } else if (focus == item(IDC_MAILBOX_LIST)) {
        activate(edb::views::ListKind::Mailboxes);
    } else if (focus == item(IDC_FOLDER_TREE)) {
        activate(edb::views::ListKind::Folders);
    } else {
        endRun();
    }
}

void MainWindow::activate(edb::views::ListKind list) {
    int row = -1;
    HTREEITEM folder = nullptr;
    switch (list) {
    case edb::views::ListKind::Mailboxes:
        row = ListView_GetNextItem(item(IDC_MAILBOX_LIST), -1, LVNI_SELECTED);
        break;
    case edb::views::ListKind::Messages:
        row = ListView_GetNextItem(item(IDC_MESSAGE_LIST), -1, LVNI_SELECTED);
        break;
    case edb::views::ListKind::Folders:
        folder = TreeView_GetSelection(item(IDC_FOLDER_TREE));
        row = folder != nullptr ? 0 : -1;
        break;
    case edb::views::ListKind::FindResults:
        break;
    }
    switch (edb::views::ActivateAction(list, row >= 0)) {
    case edb::views::ListAction::Next:
        m_session.pickMailbox(static_cast<std::size_t>(row));
        next();
        break;
    case edb::views::ListAction::ListFolder:
        folderSelected(folder);
        break;
    case edb::views::ListAction::ViewMessage:
        messageActivated();
        break;
    case edb::views::ListAction::None:
        break;
    }
}

INT_PTR MainWindow::notify(const NMHDR& header) {
    switch (header.idFrom) {
    case IDC_MAILBOX_LIST:
        if (header.code == LVN_ITEMCHANGED) {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            if ((change.uChanged & LVIF_STATE) != 0 &&
                ((change.uNewState ^ change.uOldState) & LVIS_SELECTED) != 0) {
                mailboxSelectionChanged();
            }
        } else if (header.code == NM_DBLCLK) {
            activate(edb::views::ListKind::Mailboxes);
        }
        return FALSE;
    case IDC_FOLDER_TREE:
        if (header.code == TVN_SELCHANGEDW) {
            folderSelected(reinterpret_cast<const NMTREEVIEWW&>(header).itemNew.hItem);
        } else if (header.code == NM_CLICK) {
            TVHITTESTINFO hit{};
            const DWORD at = GetMessagePos();
            hit.pt = {GET_X_LPARAM(at), GET_Y_LPARAM(at)};
            ScreenToClient(header.hwndFrom, &hit.pt);
            if (TreeView_HitTest(header.hwndFrom, &hit) != nullptr &&
                (hit.flags & TVHT_ONITEMSTATEICON) != 0) {
                // The tree view toggles the box after this notification: look at it then.
                PostMessageW(hwnd(), kTickMessage, 0, reinterpret_cast<LPARAM>(hit.hItem));
            }
        } else if (header.code == NM_DBLCLK) {
            activate(edb::views::ListKind::Folders); // and the tree opens or closes it
        } else if (header.code == TVN_KEYDOWN &&
                   reinterpret_cast<const NMTVKEYDOWN&>(header).wVKey == VK_SPACE) {
            if (const HTREEITEM selected = TreeView_GetSelection(header.hwndFrom)) {
                PostMessageW(hwnd(), kTickMessage, 0, reinterpret_cast<LPARAM>(selected));
            }
        }
        return FALSE;
    case IDC_MESSAGE_LIST:
        if (header.code == LVN_GETDISPINFOW) {
            messageDisplayInfo(
                *reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header)));
            return TRUE;
        }
        if (header.code == NM_DBLCLK) {
            activate(edb::views::ListKind::Messages);
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void MainWindow::dropFiles(HDROP drop) {
    // One .edb file dropped opens as Browse would; anything else is left alone.
    std::string path;
    if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
        const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
        std::wstring name(length + 1, L'\0');
        DragQueryFileW(drop, 0, name.data(), length + 1);
        name.resize(length);
        if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".edb") == 0) {
            path = Utf8(name);
        }
    }
    DragFinish(drop);
    if (!path.empty()) {
        (void)openStore(path);
    }
}

void MainWindow::closeRequested() {
    // During Convert the question says what closing does: the conversion is cancelled after
    // the message it is writing (endRun joins it), so every file written is whole.
    const bool converting = m_session.running(edb::session::Task::Convert);
    if (m_prompts.askYesNo(hwnd(), converting ? edb::views::kCloseDuringConvertQuestion
                                              : kStopQuestion)) {
        endRun();
    }
}

void MainWindow::exitCommand() {
    if (m_prompts.askYesNo(hwnd(), kExitQuestion)) {
        endRun();
    }
}

void MainWindow::splitterMoved(int delta) {
    // The border between the folder tree and the message list moves; the list's right edge stays.
    const auto move = [this](int id, int left, int right) {
        const HWND control = item(id);
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
        MoveWindow(control, r.left + left, r.top, r.right - r.left - left + right,
                   r.bottom - r.top, TRUE);
    };
    move(IDC_FOLDER_TREE, 0, delta);
    move(IDC_SPLITTER, delta, delta);
    move(IDC_MESSAGE_LIST, delta, 0);
    RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

} // namespace edbwin
