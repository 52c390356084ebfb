// The window's traps, driven as a new user drives it: Enter and double clicks on each list do
// what views/ says that list's rows are for, the keyboard picks and lists as clicks do, every
// button and menu item is as views/ computes it from the session, closing during Convert asks
// and cancels, and the menus carry their Alt keys.
#include "tests/support/demo_store.h"
#include "tests/win32/read_faults_win.h"
#include "tests/win32/window_driver.h"
#include "views/controls.h"
#include "views/texts.h"
#include "win32/progress_dialog.h"
#include "win32/resource_ids.h"
#include "win32/start.h"
#include "win32/wide_text.h"

#include <gtest/gtest.h>

namespace edbwintest {
namespace {

using edbwin::ConvertTarget;

// The buttons and menu items as the window shows them, read back as views/ names them.
edb::views::ControlStates Shown(const OpenWindow& w) {
    const HMENU menu = GetMenu(w.window->hwnd());
    const auto menuOn = [menu](UINT id) {
        return (GetMenuState(menu, id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) == 0;
    };
    edb::views::ControlStates c;
    c.browse = IsWindowEnabled(w.control(IDC_BROWSE)) != FALSE && menuOn(IDM_OPEN);
    c.stop = IsWindowEnabled(w.control(IDC_STOP)) != FALSE;
    c.next = IsWindowEnabled(w.control(IDC_NEXT)) != FALSE;
    c.nextUserMailbox = IsWindowEnabled(w.control(IDC_NEXT_USER_MAILBOX)) != FALSE;
    c.backUserMailbox = IsWindowEnabled(w.control(IDC_BACK_USER_MAILBOX)) != FALSE;
    c.convert = IsWindowEnabled(w.control(IDC_CONVERT)) != FALSE;
    c.find = menuOn(IDM_FIND);
    c.save = menuOn(IDM_SAVE);
    return c;
}

void DoubleClick(HWND control) {
    NMHDR header{control, static_cast<UINT_PTR>(GetDlgCtrlID(control)),
                 static_cast<UINT>(NM_DBLCLK)};
    SendMessageW(GetParent(control), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
    Pump();
}

int Roots(HWND tree) {
    int n = 0;
    for (const TreeEntry& e : TreeItems(tree)) {
        n += e.depth == 0 ? 1 : 0;
    }
    return n;
}

TEST(WindowKeys, EveryStepShowsTheCommandsViewsAllowsAndRowsActAsTheirListSays) {
    auto w = OpenDemo(false);
    const auto same = [&] { return Shown(*w) == edb::views::ControlStatesOf(w->window->session()); };
    EXPECT_TRUE(same()) << "after the scan";
    const HWND mailboxes = w->control(IDC_MAILBOX_LIST);
    const HWND tree = w->control(IDC_FOLDER_TREE);
    // The arrow keys pick as a click does; a double click on the row is Next.
    SelectRow(mailboxes, 1);
    Key(mailboxes, VK_UP);
    EXPECT_EQ(w->window->session().pickedMailbox(), std::optional<std::size_t>(0));
    EXPECT_TRUE(IsWindowEnabled(w->control(IDC_NEXT)));
    EXPECT_TRUE(same()) << "after a pick";
    DoubleClick(mailboxes);
    ASSERT_TRUE(PumpUntil([&] { return w->idle(); }));
    EXPECT_EQ(Roots(tree), 1);
    EXPECT_EQ(TreeItems(tree).front().text, CellText(mailboxes, 0, 0));
    EXPECT_TRUE(same()) << "after Next";
    // A second double click on the same mailbox adds nothing.
    DoubleClick(mailboxes);
    ASSERT_TRUE(PumpUntil([&] { return w->idle(); }));
    EXPECT_EQ(Roots(tree), 1);
    // The arrow keys in the tree list the folder reached, as a click does.
    TreeView_Expand(tree, TreeView_GetRoot(tree), TVE_EXPAND);
    TreeView_SelectItem(tree, TreeView_GetRoot(tree));
    Pump();
    Key(tree, VK_DOWN); // the Inbox
    EXPECT_EQ(TreeView_GetSelection(tree), FindTreeItem(tree, "Inbox"));
    ASSERT_TRUE(PumpUntil([&] { return w->idle(); }));
    const HWND messages = w->control(IDC_MESSAGE_LIST);
    EXPECT_GT(ListView_GetItemCount(messages), 0);
    EXPECT_TRUE(IsWindow(w->window->hwnd())) << "Enter in a list never ends the run";
    // A double click on a message opens it; Enter in a list without a row does nothing.
    SelectRow(messages, 0);
    DoubleClick(messages);
    EXPECT_EQ(w->window->viewers().size(), 1U);
    ListView_SetItemState(messages, -1, 0, LVIS_SELECTED);
    Key(messages, VK_RETURN);
    EXPECT_EQ(w->window->viewers().size(), 1U);
    EXPECT_TRUE(IsWindow(w->window->hwnd()));
    EXPECT_TRUE(same()) << "after a listing";
}

TEST(WindowKeys, CloseDuringConvertAsksThenCancelsAndTicksWait) {
    auto w = OpenDemo(true);
    const HWND tree = w->control(IDC_FOLDER_TREE);
    const HTREEITEM root = TreeView_GetRoot(tree);
    ToggleTick(tree, root);
    const std::size_t ticked = w->window->session().ticked().size();
    ASSERT_GT(ticked, 0U);
    const std::filesystem::path out = FreshFolder("closed");
    w->prompts.target = ConvertTarget{ConvertTarget::Kind::EmlFolder, edbwin::Utf8(out.wstring())};
    SendMessageW(w->window->hwnd(), WM_COMMAND, IDC_CONVERT, 0);
    ASSERT_NE(w->window->convertProgress(), nullptr);
    // The window is not held: its close reaches it. What it allows is the session's.
    EXPECT_TRUE(IsWindowEnabled(w->window->hwnd()));
    EXPECT_EQ(Shown(*w), edb::views::ControlStatesOf(w->window->session()));
    // A click on a box while Convert runs changes nothing: the box shows the session's tick.
    ToggleTick(tree, root);
    EXPECT_TRUE(Ticked(tree, root));
    EXPECT_EQ(w->window->session().ticked().size(), ticked);
    // No keeps the conversion; Yes cancels it and ends the run.
    w->prompts.said.clear();
    w->prompts.answers = {false, true};
    SendMessageW(w->window->hwnd(), WM_CLOSE, 0, 0);
    ASSERT_EQ(w->prompts.said.size(), 1U);
    EXPECT_EQ(w->prompts.said[0], edb::views::kCloseDuringConvertQuestion);
    EXPECT_TRUE(IsWindow(w->window->hwnd()));
    EXPECT_TRUE(w->window->session().running(edb::session::Task::Convert));
    const HWND main = w->window->hwnd();
    SendMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(main));
    EXPECT_EQ(w->window->pendingWork(), 0);
    // Nothing half written is left: every name in the output is a finished one.
    for (const auto& e : std::filesystem::recursive_directory_iterator(out)) {
        EXPECT_NE(e.path().filename().wstring().rfind(L".edb2eml-", 0), 0U)
            << edbwin::Utf8(e.path().wstring());
    }
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // the run's end, for the next test
}

TEST(WindowKeys, TheMenusCarryTheirAltKeys) {
    auto w = OpenDemo(false);
    const HMENU menu = GetMenu(w->window->hwnd());
    std::vector<std::string> titles;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        titles.push_back(edbwin::Utf8(text));
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"&File", "&Edit", "&Help"}));
}

std::string StatusPane(HWND window) {
    wchar_t text[1024] = {};
    const HWND bar = GetDlgItem(window, IDC_STATUS_BAR);
    if (LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, 0, 0)) < std::size(text)) {
        SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    }
    return edbwin::Utf8(text);
}

// A store on a failing disk: the status bar says what could not be read, in the words the
// Linux window uses; a store read whole shows the caption there.
TEST(WindowStatus, WhatTheDiskDidNotGiveBackIsSaidInTheStatusBar) {
    auto healthy = OpenDemo(false);
    EXPECT_EQ(StatusPane(healthy->window->hwnd()), std::string(" ") + edb::views::kCaption);
    healthy.reset();

    const std::filesystem::path store = FreshFolder("failing") / "demo.edb";
    edbtest::writeDemoStore(store);
    const std::uint64_t size = std::filesystem::file_size(store);
    const std::uint64_t last = (size - 1) / 4096 * 4096;
    static const bool prepared = edbwin::PrepareProcess();
    (void)prepared;
    edb::StoreCatalog catalog;
    ScriptedPrompts prompts;
    edbwin::MainWindow window(catalog, prompts);
    ASSERT_TRUE(window.create());
    ShowWindow(window.hwnd(), SW_SHOW);
    FailReads(store, last, size - last);
    ASSERT_TRUE(window.openStore(edbwin::Utf8(store.wstring())));
    const bool ended = PumpUntil([&] { return window.pendingWork() == 0; });
    StopFailingReads();
    ASSERT_TRUE(ended);
    const std::string shown = StatusPane(window.hwnd());
    const std::string expected =
        " Read incompletely: 1 range (" + std::to_string(size - last) + " bytes) could not be read";
    EXPECT_EQ(shown.rfind(expected, 0), 0U) << shown;
}

} // namespace
} // namespace edbwintest
