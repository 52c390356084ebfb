#pragma once
// Drives exchange-to-eml's window in-process, as a user's clicks and keys would: the messages
// they send go to the controls, the window's own loop dispatches them, and the controls are
// read back. The boxes and choosers answer from a script.
#include "win32/main_window.h"
#include "win32/prompts.h"

#include <windows.h>
#include <commctrl.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace edbwintest {

class ScriptedPrompts : public edbwin::Prompts {
public:
    std::deque<bool> answers;              // askYesNo, in order; "No" when none is left
    std::vector<std::string> said;         // every question, error and information, in order
    std::string storeFile;                 // chooseStoreFile's answer
    std::optional<edbwin::ConvertTarget> target;
    std::string saveFile;
    std::vector<std::string> opened;       // openWithDesktop

    bool askYesNo(HWND, const std::string& text) override;
    void showError(HWND, const std::string& text) override { said.push_back(text); }
    void showInformation(HWND, const std::string& text) override { said.push_back(text); }
    std::string chooseStoreFile(HWND) override { return storeFile; }
    std::string chooseFolder(HWND, const std::string&) override { return {}; }
    std::string chooseSaveFile(HWND, const std::string&, const std::string&) override {
        return saveFile;
    }
    std::optional<edbwin::ConvertTarget> chooseConvertTarget(HWND) override { return target; }
    bool openWithDesktop(const std::string& what) override {
        opened.push_back(what);
        return true;
    }
};

// Runs the thread's queue until it is empty.
void Pump();
// Pumps until `done` holds; false after `seconds`.
bool PumpUntil(const std::function<bool()>& done, int seconds = 60);
// A button pressed as a click does it; false when it is disabled or hidden (nothing happens).
bool Press(HWND button);
// Keys as the keyboard sends them to the control with the focus.
void Key(HWND control, WPARAM key);
// Selects list row `row` as a click on it does (focus and selection).
void SelectRow(HWND list, int row);
// The text of a list row's cell (any list view, virtual ones included).
std::string CellText(HWND list, int row, int column);
std::vector<std::string> Headings(HWND list);
// Tree items in display order, depth first, with their depth.
struct TreeEntry {
    HTREEITEM item;
    std::string text;
    int depth;
};
std::vector<TreeEntry> TreeItems(HWND tree);
HTREEITEM FindTreeItem(HWND tree, const std::string& text);
// Space on an item: selects it and toggles its box, as the keyboard does.
void ToggleTick(HWND tree, HTREEITEM item);
bool Ticked(HWND tree, HTREEITEM item);

// A Unix path of the build machine as wine sees it (drive Z:).
std::filesystem::path HostPath(const char* unixPath);
// A fresh folder under the test's temporary folder.
std::filesystem::path FreshFolder(const std::string& name);

// The window on the demo store, scanned, with the first mailbox added by Next.
struct OpenWindow {
    edb::StoreCatalog catalog;
    ScriptedPrompts prompts;
    std::unique_ptr<edbwin::MainWindow> window;
    HWND control(int id) const { return GetDlgItem(window->hwnd(), id); }
    bool idle() const { return window->pendingWork() == 0; }
};
std::filesystem::path DemoStore();
std::unique_ptr<OpenWindow> OpenDemo(bool addFirstMailbox);

} // namespace edbwintest
