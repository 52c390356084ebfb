#include "tests/win32/window_driver.h"

#include "tests/support/demo_store.h"
#include "win32/resource_ids.h"
#include "win32/start.h"
#include "win32/wide_text.h"

#include <gtest/gtest.h>

#include <chrono>

namespace edbwintest {

bool ScriptedPrompts::askYesNo(HWND, const std::string& text) {
    said.push_back(text);
    if (answers.empty()) {
        return false;
    }
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
}

void Pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        edbwin::DispatchOne(m, nullptr, nullptr);
    }
}

bool PumpUntil(const std::function<bool()>& done, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        Pump();
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

bool Press(HWND button) {
    if (button == nullptr || !IsWindowEnabled(button) || !IsWindowVisible(button)) {
        return false;
    }
    SendMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    Pump();
    return true;
}

void Key(HWND control, WPARAM key) {
    SetFocus(control);
    PostMessageW(control, WM_KEYDOWN, key, 1);
    PostMessageW(control, WM_KEYUP, key, 0xC0000001);
    Pump();
}

void SelectRow(HWND list, int row) {
    SetFocus(list);
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetSelectionMark(list, row);
    Pump();
}

std::string CellText(HWND list, int row, int column) {
    wchar_t text[1024] = {};
    ListView_GetItemText(list, row, column, text, 1024);
    return edbwin::Utf8(text);
}

std::vector<std::string> Headings(HWND list) {
    std::vector<std::string> out;
    const HWND header = ListView_GetHeader(list);
    for (int i = 0; i < Header_GetItemCount(header); ++i) {
        wchar_t text[256] = {};
        HDITEMW h{};
        h.mask = HDI_TEXT;
        h.pszText = text;
        h.cchTextMax = 256;
        Header_GetItem(header, i, &h);
        out.push_back(edbwin::Utf8(text));
    }
    return out;
}

std::vector<TreeEntry> TreeItems(HWND tree) {
    std::vector<TreeEntry> out;
    std::function<void(HTREEITEM, int)> walk = [&](HTREEITEM first, int depth) {
        for (HTREEITEM i = first; i != nullptr; i = TreeView_GetNextSibling(tree, i)) {
            wchar_t text[512] = {};
            TVITEMW t{};
            t.mask = TVIF_TEXT;
            t.hItem = i;
            t.pszText = text;
            t.cchTextMax = 512;
            TreeView_GetItem(tree, &t);
            out.push_back({i, edbwin::Utf8(text), depth});
            walk(TreeView_GetChild(tree, i), depth + 1);
        }
    };
    walk(TreeView_GetRoot(tree), 0);
    return out;
}

HTREEITEM FindTreeItem(HWND tree, const std::string& text) {
    for (const TreeEntry& e : TreeItems(tree)) {
        if (e.text == text) {
            return e.item;
        }
    }
    return nullptr;
}

void ToggleTick(HWND tree, HTREEITEM item) {
    TreeView_SelectItem(tree, item);
    Key(tree, VK_SPACE);
}

bool Ticked(HWND tree, HTREEITEM item) {
    return TreeView_GetCheckState(tree, item) == 1;
}

std::filesystem::path HostPath(const char* unixPath) {
    std::string p = unixPath == nullptr ? std::string() : std::string(unixPath);
    if (!p.empty() && p.front() == '/') {
        p = "Z:" + p;
    }
    return std::filesystem::path(edbwin::Wide(p)).make_preferred();
}

std::filesystem::path FreshFolder(const std::string& name) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    const std::filesystem::path dir =
        std::filesystem::path(temp) / ("edb-window-" + std::to_string(GetCurrentProcessId())) /
        name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

std::filesystem::path DemoStore() {
    static const std::filesystem::path path = [] {
        const std::filesystem::path p = FreshFolder("store") / "demo.edb";
        edbtest::writeDemoStore(p);
        return p;
    }();
    return path;
}

std::unique_ptr<OpenWindow> OpenDemo(bool addFirstMailbox) {
    static const bool prepared = edbwin::PrepareProcess();
    (void)prepared;
    auto w = std::make_unique<OpenWindow>();
    w->window = std::make_unique<edbwin::MainWindow>(w->catalog, w->prompts);
    EXPECT_TRUE(w->window->create());
    ShowWindow(w->window->hwnd(), SW_SHOW);
    EXPECT_TRUE(w->window->openStore(edbwin::Utf8(DemoStore().wstring())));
    EXPECT_TRUE(PumpUntil([&] { return w->idle(); }));
    if (addFirstMailbox) {
        SelectRow(w->control(IDC_MAILBOX_LIST), 0);
        EXPECT_TRUE(Press(w->control(IDC_NEXT)));
        EXPECT_TRUE(PumpUntil([&] { return w->idle(); }));
    }
    return w;
}

} // namespace edbwintest
