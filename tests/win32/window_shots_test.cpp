// Every dialog of the window on screen at the DPI the test's wine prefix gives (96 or 144):
// the program is per-monitor aware, every visible control lies inside its dialog, every dialog
// on the screen, and a screenshot of each is kept for people to look at.
#include "tests/win32/window_driver.h"
#include "win32/about_dialog.h"
#include "win32/destination_dialog.h"
#include "win32/find_dialog.h"
#include "win32/progress_dialog.h"
#include "win32/resource_ids.h"
#include "win32/viewer_dialog.h"
#include "win32/wide_text.h"

#include <gtest/gtest.h>

#include <fstream>

namespace edbwintest {
namespace {

UINT ExpectedDpi() {
    const char* dpi = std::getenv("EDB_WINDOW_DPI");
    return dpi != nullptr ? static_cast<UINT>(std::atoi(dpi)) : 96;
}

// The window's pixels as the screen shows them, as a 24-bit BMP file.
void SaveScreenshot(HWND window, const std::string& name) {
    const char* dir = std::getenv("EDB_WINDOW_SHOTS");
    if (dir == nullptr) {
        return;
    }
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t size = stride * static_cast<std::size_t>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + size);
    const std::filesystem::path out = HostPath(dir) / (name + ".bmp");
    std::filesystem::create_directories(out.parent_path());
    std::ofstream f(out, std::ios::binary);
    f.write(reinterpret_cast<const char*>(&file), sizeof file);
    f.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    f.write(static_cast<const char*>(bits), static_cast<std::streamsize>(size));
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    EXPECT_TRUE(f.good()) << name;
}

// Shown, on the screen, at the expected DPI, every visible control inside the client area.
void CheckFit(HWND dialog, const std::string& name) {
    ShowWindow(dialog, SW_SHOW);
    SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    UpdateWindow(dialog);
    Pump();
    EXPECT_EQ(GetDpiForWindow(dialog), ExpectedDpi()) << name;
    RECT window{};
    GetWindowRect(dialog, &window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& screen = monitor.rcWork;
    EXPECT_TRUE(window.left >= screen.left && window.top >= screen.top &&
                window.right <= screen.right && window.bottom <= screen.bottom)
        << name << " lies outside the screen";
    RECT client{};
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
    int checked = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c)) {
            continue;
        }
        RECT r{};
        GetWindowRect(c, &r);
        EXPECT_TRUE(r.left >= client.left && r.top >= client.top && r.right <= client.right &&
                    r.bottom <= client.bottom)
            << name << ": control " << GetDlgCtrlID(c) << " lies outside the dialog";
        ++checked;
    }
    EXPECT_GT(checked, 0) << name;
    SaveScreenshot(dialog, name);
}

TEST(WindowShots, EveryDialogFitsAtTheScreensDpi) {
    auto w = OpenDemo(true);
    const HWND main = w->window->hwnd();
    const HWND tree = w->control(IDC_FOLDER_TREE);
    TreeView_SelectItem(tree, FindTreeItem(tree, "Inbox"));
    ASSERT_TRUE(PumpUntil([&] { return w->idle(); }));
    ToggleTick(tree, FindTreeItem(tree, "Inbox"));
    const std::string dpi = std::to_string(ExpectedDpi());
    CheckFit(main, "main-" + dpi);

    edbwin::AboutDialog about(w->prompts);
    ASSERT_TRUE(about.create(IDD_ABOUT, main));
    CheckFit(about.hwnd(), "about-" + dpi);
    about.close();

    edbwin::DestinationDialog destination(w->prompts);
    ASSERT_TRUE(destination.create(IDD_DESTINATION, main));
    CheckFit(destination.hwnd(), "destination-" + dpi);
    destination.close();

    edbwin::ProgressDialog progress([] {});
    ASSERT_TRUE(progress.create(IDD_PROGRESS, main));
    progress.show("Converting Ann Smith\\Inbox\\ (12 of 48)", 25);
    CheckFit(progress.hwnd(), "progress-" + dpi);
    progress.close();

    SendMessageW(main, WM_COMMAND, IDM_FIND, 0);
    edbwin::FindDialog* find = w->window->findDialog();
    ASSERT_NE(find, nullptr);
    ASSERT_TRUE(Press(find->item(IDC_FIND_GO)));
    ASSERT_TRUE(PumpUntil([&] { return !find->searching(); }));
    CheckFit(find->hwnd(), "find-" + dpi);

    ASSERT_FALSE(w->window->messageRows().empty());
    w->window->viewMessage(w->window->messageRows().front().entry);
    ASSERT_EQ(w->window->viewers().size(), 1U);
    CheckFit(w->window->viewers().front()->hwnd(), "viewer-" + dpi);
}

} // namespace
} // namespace edbwintest
