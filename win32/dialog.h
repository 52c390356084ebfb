#pragma once
// A dialog made from a template, owned by one object: the dialog procedure hands every message
// to the object's handle(), which sends it on to named handlers. Modal (runModal) or modeless
// (create); close() ends either kind. Window thread only.
#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

namespace edbwin {

class Dialog {
public:
    Dialog() = default;
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Modeless; false when the template could not be made into a window.
    bool create(int templateId, HWND owner);
    // Modal: returns the value close() was given, or -1 when the dialog could not be made.
    INT_PTR runModal(int templateId, HWND owner);
    void close(INT_PTR result = IDCANCEL);

    [[nodiscard]] HWND hwnd() const { return m_hwnd; }
    [[nodiscard]] HWND item(int id) const { return GetDlgItem(m_hwnd, id); }
    [[nodiscard]] bool isOpen() const { return m_hwnd != nullptr; }

protected:
    // TRUE when the message was handled; FALSE lets the dialog manager do its own.
    virtual INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // The window is gone (modeless dialogs); the object may still be alive.
    virtual void destroyed() {}

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND m_hwnd = nullptr;
    bool m_modal = false;
};

// Work handed from worker threads to the window thread: post() queues a call and wakes the
// window with one message; the window runs the queued calls in order when that message comes.
// Calls still queued when the window goes are dropped with the inbox.
class Inbox {
public:
    void attach(HWND window, UINT message) {
        std::lock_guard lock(m_mutex);
        m_window = window;
        m_message = message;
    }
    void detach();
    // Any thread.
    void post(std::function<void()> call);
    // Window thread, on the wake-up message.
    void run();

private:
    std::mutex m_mutex;
    HWND m_window = nullptr;
    UINT m_message = 0;
    bool m_woken = false;
    std::deque<std::function<void()>> m_calls;
};

// One message of the thread's queue through the dialog manager of the window it is for (Tab,
// Enter, Esc, mnemonics) and the main window's keys. False at WM_QUIT.
bool DispatchOne(const MSG& message, HWND mainWindow, HACCEL keys);
// Runs the thread's message loop until WM_QUIT; returns its exit code.
int RunMessageLoop(HWND mainWindow, HACCEL keys);

// The module whose resources the dialogs are made from.
[[nodiscard]] HINSTANCE ResourceModule();

} // namespace edbwin
