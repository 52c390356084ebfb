#include "win32/dialog.h"

namespace edbwin {

HINSTANCE ResourceModule() {
    return GetModuleHandleW(nullptr);
}

Dialog::~Dialog() {
    if (m_hwnd != nullptr) {
        SetWindowLongPtrW(m_hwnd, DWLP_USER, 0); // no message reaches a dead object
        if (!m_modal) {
            DestroyWindow(m_hwnd);
        }
    }
}

bool Dialog::create(int templateId, HWND owner) {
    m_modal = false;
    const HWND made = CreateDialogParamW(ResourceModule(), MAKEINTRESOURCEW(templateId), owner,
                                         &Dialog::Procedure, reinterpret_cast<LPARAM>(this));
    return made != nullptr;
}

INT_PTR Dialog::runModal(int templateId, HWND owner) {
    m_modal = true;
    const INT_PTR result = DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(templateId), owner,
                                           &Dialog::Procedure, reinterpret_cast<LPARAM>(this));
    m_hwnd = nullptr;
    return result;
}

void Dialog::close(INT_PTR result) {
    if (m_hwnd == nullptr) {
        return;
    }
    if (m_modal) {
        EndDialog(m_hwnd, result);
    } else {
        DestroyWindow(m_hwnd);
    }
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->m_hwnd = window;
        SetWindowLongPtrW(window, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (self == nullptr) {
        return FALSE;
    }
    const INT_PTR handled = self->handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->m_hwnd = nullptr;
        if (!self->m_modal) {
            self->destroyed();
        }
    }
    return handled;
}

void Inbox::detach() {
    std::lock_guard lock(m_mutex);
    m_window = nullptr;
    m_calls.clear();
}

void Inbox::post(std::function<void()> call) {
    std::lock_guard lock(m_mutex);
    if (m_window == nullptr) {
        return;
    }
    m_calls.push_back(std::move(call));
    // One wake-up covers every call queued before it is taken.
    if (!m_woken) {
        m_woken = PostMessageW(m_window, m_message, 0, 0) != FALSE;
    }
}

void Inbox::run() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(m_mutex);
        calls.swap(m_calls);
        m_woken = false;
    }
    for (auto& call : calls) {
        call();
    }
}

bool DispatchOne(const MSG& message, HWND mainWindow, HACCEL keys) {
    if (message.message == WM_QUIT) {
        return false;
    }
    MSG m = message;
    if (keys != nullptr && mainWindow != nullptr && IsWindow(mainWindow) &&
        (m.hwnd == mainWindow || IsChild(mainWindow, m.hwnd)) &&
        TranslateAcceleratorW(mainWindow, keys, &m) != 0) {
        return true;
    }
    // Each top-level dialog (the main one, Find, viewers) gets its own keyboard handling.
    const HWND top = m.hwnd != nullptr ? GetAncestor(m.hwnd, GA_ROOT) : nullptr;
    if (top != nullptr && IsDialogMessageW(top, &m) != FALSE) {
        return true;
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
    return true;
}

int RunMessageLoop(HWND mainWindow, HACCEL keys) {
    MSG m;
    for (;;) {
        const BOOL got = GetMessageW(&m, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;
        }
        DispatchOne(m, mainWindow, keys);
    }
    return static_cast<int>(m.wParam);
}

} // namespace edbwin
