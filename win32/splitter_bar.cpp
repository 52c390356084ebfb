#include "win32/splitter_bar.h"

#include "win32/dialog.h"
#include "win32/window_messages.h"

#include <windowsx.h>

#include <algorithm>

namespace edbwin {

namespace {

constexpr int kLeftRoom = 50;
constexpr int kRightRoom = 500;

// Per bar: where the drag began (screen x) and how far the bar has moved from its start.
struct BarState {
    int dragStart = 0;
    int moved = 0;
    bool dragging = false;
};

LRESULT CALLBACK BarProcedure(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<BarState*>(GetWindowLongPtrW(bar, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE:
        SetWindowLongPtrW(bar, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new BarState));
        break;
    case WM_NCDESTROY:
        delete state;
        SetWindowLongPtrW(bar, GWLP_USERDATA, 0);
        break;
    case WM_LBUTTONDOWN:
        if (state != nullptr) {
            POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ClientToScreen(bar, &p);
            state->dragStart = p.x;
            state->dragging = true;
            SetCapture(bar);
        }
        return 0;
    case WM_LBUTTONUP:
        if (state != nullptr && state->dragging) {
            state->dragging = false;
            ReleaseCapture();
            POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ClientToScreen(bar, &p);
            const int wanted = std::clamp(state->moved + static_cast<int>(p.x - state->dragStart), -kLeftRoom,
                                          kRightRoom);
            const int delta = wanted - state->moved;
            state->moved = wanted;
            if (delta != 0) {
                SendMessageW(GetParent(bar), kSplitterMessage, GetDlgCtrlID(bar), delta);
            }
        }
        return 0;
    case WM_CAPTURECHANGED:
        if (state != nullptr) {
            state->dragging = false;
        }
        return 0;
    default:
        break;
    }
    (void)wParam;
    return DefWindowProcW(bar, message, wParam, lParam);
}

} // namespace

void RegisterSplitterBar() {
    WNDCLASSEXW c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = BarProcedure;
    c.hInstance = ResourceModule();
    c.hCursor = LoadCursorW(nullptr, IDC_SIZEWE);
    c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    c.lpszClassName = L"EdbSplitterBar";
    RegisterClassExW(&c);
}

} // namespace edbwin
