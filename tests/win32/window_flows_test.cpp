// The window's flows under wine, driven as a user drives them: the main dialog as the template
// makes it, opening the demo store, picking mailboxes and Next, ticks, listings, the viewer,
// Find, Convert (byte for byte what edb2eml.exe export writes) and its Cancel, a file that is
// no store, Help and the ends of the run.
#include "tests/support/demo_store.h"
#include "tests/win32/window_driver.h"
#include "win32/find_dialog.h"
#include "win32/progress_dialog.h"
#include "win32/resource_ids.h"
#include "win32/start.h"
#include "win32/viewer_dialog.h"
#include "win32/wide_text.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace edbwintest {
namespace {

using edbwin::ConvertTarget;

std::string MenuText(HWND window, UINT id) {
    wchar_t text[128] = {};
    GetMenuStringW(GetMenu(window), id, text, 128, MF_BYCOMMAND);
    return edbwin::Utf8(text);
}

std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Every file below `root` by its relative path, with its bytes; folders as "/".
std::map<std::string, std::string> Tree(const std::filesystem::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = edbwin::Utf8(e.path().lexically_relative(root).wstring());
        if (e.is_directory()) {
            out[name] = "/";
        } else if (name == "manifest.json" || name == "export-log.txt") {
            out[name] = "(the run's record: its times and store path differ)";
        } else {
            out[name] = FileBytes(e.path());
        }
    }
    return out;
}

// edb2eml.exe export, as a user would run it beside the window; what it says goes to `said`.
int RunExport(const std::filesystem::path& store, const std::filesystem::path& out,
              const std::string& format, const std::string& folder, std::string& said) {
    const std::filesystem::path exe = HostPath(std::getenv("EDB_EDB2EML"));
    std::wstring line = L"\"" + exe.wstring() + L"\" export \"" + store.wstring() + L"\" -o \"" +
                        out.wstring() + L"\" --format " + edbwin::Wide(format) + L" --folder \"" +
                        edbwin::Wide(folder) + L"\"";
    const std::filesystem::path log = out.parent_path() / ("export-" + format + ".txt");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE file = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = file;
    si.hStdError = file;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    CloseHandle(file);
    if (!started) {
        return -1;
    }
    WaitForSingleObject(pi.hProcess, 300000);
    DWORD status = 1;
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    said = FileBytes(log);
    return static_cast<int>(status);
}

TEST(WindowFlows, MainDialogIsTheTemplateWithItsTextsAndStartStates) {
    auto w = OpenDemo(false);
    const HWND main = w->window->hwnd();
    EXPECT_EQ(edbwin::WindowText(main), "Quenlor Systems Exchange To Eml Conversion");
    // 476 x 401 dialog units of client area above the status bar.
    RECT units{0, 0, 476, 401};
    MapDialogRect(main, &units);
    RECT client{}, bar{};
    GetClientRect(main, &client);
    GetWindowRect(w->control(IDC_STATUS_BAR), &bar);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom - (bar.bottom - bar.top), units.bottom);
    for (int id = IDC_PATH_EDIT; id <= IDC_UNUSED_GROUP_1013 + 3; ++id) {
        EXPECT_NE(w->control(id), nullptr) << id;
    }
    EXPECT_NE(w->control(IDC_MESSAGE_LIST), nullptr);
    EXPECT_NE(w->control(IDC_NEXT), nullptr);
    EXPECT_NE(w->control(IDC_SPLITTER), nullptr);
    EXPECT_EQ(edbwin::ItemText(main, IDC_BROWSE), "Browse...");
    EXPECT_EQ(edbwin::ItemText(main, IDC_PATH_FRAME), "Select Exchange Mailbox (.EDB) File");
    EXPECT_EQ(Headings(w->control(IDC_MAILBOX_LIST)),
              std::vector<std::string>{"User Mailbox Name"});
    EXPECT_EQ(MenuText(main, IDM_OPEN), "&Open Edb File");
    EXPECT_EQ(MenuText(main, IDM_CONTENT), "&Content");
    wchar_t pane[256] = {};
    SendMessageW(w->control(IDC_STATUS_BAR), SB_GETTEXTW, 1, reinterpret_cast<LPARAM>(pane));
    EXPECT_EQ(edbwin::Utf8(pane), "https://www.example.com");
    // The scan has ended: Browse is used up, Next waits for a pick, Convert for a Next.
    EXPECT_FALSE(IsWindowEnabled(w->control(IDC_BROWSE)));
    EXPECT_FALSE(IsWindowEnabled(w->control(IDC_NEXT)));
    EXPECT_FALSE(IsWindowEnabled(w->control(IDC_CONVERT)));
    EXPECT_FALSE(IsWindowVisible(w->control(IDC_PROGRESS)));
    EXPECT_FALSE(IsWindowVisible(w->control(IDC_NEXT_USER_MAILBOX)));
    EXPECT_EQ(edbwin::ItemText(main, IDC_PATH_EDIT), edbwin::Utf8(DemoStore().wstring()));
}

TEST(WindowFlows, PickingABAThenNextAddsTheHighlightedMailboxOnce) {
    auto w = OpenDemo(false);
    const HWND list = w->control(IDC_MAILBOX_LIST);
    ASSERT_GE(ListView_GetItemCount(list), 2);
    EXPECT_EQ(w->window->session().phase(), edb::session::Phase::Scanned);
    const std::string a = CellText(list, 0, 0);
    const std::string b = CellText(list, 1, 0);
    SelectRow(list, 0);
    EXPECT_TRUE(IsWindowEnabled(w->control(IDC_NEXT)));
    SelectRow(list, 1);
    SelectRow(list, 0);
    EXPECT_TRUE(IsWindowEnabled(w->control(IDC_NEXT))) << "a pick never locks a mailbox out";
    ASSERT_TRUE(Press(w->control(IDC_NEXT)));
    ASSERT_TRUE(PumpUntil([&] { return w->idle(); }));
    const HWND tree = w->control(IDC_FOLDER_TREE);
    std::vector<TreeEntry> items = TreeItems(tree);
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items.front().text, a);
    EXPECT_GT(items.size(), 3U);
    EXPECT_FALSE(IsWindowEnabled(w->control(IDC_NEXT)));
    EXPECT_TRUE(IsWindowEnabled(w->control(IDC_CONVERT)));
    SelectRow(list, 0);
    EXPECT_FALSE(IsWindowEnabled(w->control(IDC_NEXT))) << "A is in the tree already";
    // Enter on the mailbox list acts as Next.
    SelectRow(list, 1);
    Key(list, VK_RETURN);
    ASSERT_TRUE(PumpUntil([&] { return w->idle(); }));
    int roots = 0;
    for (const TreeEntry& e : TreeItems(tree)) {
        roots += e.depth == 0 ? 1 : 0;
        if (e.depth == 0 && roots == 2) {
            EXPECT_EQ(e.text, b);
        }
    }
    EXPECT_EQ(roots, 2);
}

TEST(WindowFlows, TicksFollowTheSubtreeAndTheSessionHoldsThem) {
    auto w = OpenDemo(true);
    const HWND tree = w->control(IDC_FOLDER_TREE);
    const HTREEITEM root = TreeView_GetRoot(tree);
    const HTREEITEM first = TreeView_GetChild(tree, root);
    ASSERT_NE(first, nullptr);
    ToggleTick(tree, root);
    for (const TreeEntry& e : TreeItems(tree)) {
        EXPECT_TRUE(Ticked(tree, e.item)) << e.text;
    }
    const std::size_t all = w->window->session().ticked().size();
    EXPECT_EQ(all + 1, TreeItems(tree).size()) << "every folder but the root is one";
    ToggleTick(tree, first);
    EXPECT_FALSE(Ticked(tree, first));
    EXPECT_FALSE(Ticked(tree, root)) << "not every child is ticked any more";
    EXPECT_NE(TreeView_GetItemState(tree, root, TVIS_BOLD) & TVIS_BOLD, 0U);
    EXPECT_LT(w->window->session().ticked().size(), all);
}

TEST(WindowFlows, AFolderListsItsMessagesAndEnterOpensTheViewer) {
    auto w = OpenDemo(true);
    const HWND tree = w->control(IDC_FOLDER_TREE);
    const HTREEITEM inbox = FindTreeItem(tree, "Inbox");
    ASSERT_NE(inbox, nullptr);
    TreeView_SelectItem(tree, inbox);
    ASSERT_TRUE(PumpUntil([&] { return w->idle(); }));
    const HWND list = w->control(IDC_MESSAGE_LIST);
    ASSERT_GT(ListView_GetItemCount(list), 0);
    EXPECT_EQ(static_cast<std::size_t>(ListView_GetItemCount(list)),
              w->window->messageRows().size());
    EXPECT_EQ(Headings(list), (std::vector<std::string>{"No", "From", "Subject", "Date"}));
    EXPECT_EQ(CellText(list, 0, 0), "1");
    EXPECT_EQ(CellText(list, 0, 2), w->window->messageRows()[0].cells[2]);

    // The message with an attachment: its row opens the viewer on Enter.
    int withAttachment = -1;
    for (std::size_t i = 0; i < w->window->messageRows().size(); ++i) {
        if (w->window->messageRows()[i].kind == edb::views::RowKind::MailWithAttachments) {
            withAttachment = static_cast<int>(i);
            break;
        }
    }
    ASSERT_GE(withAttachment, 0);
    SelectRow(list, withAttachment);
    Key(list, VK_RETURN);
    ASSERT_EQ(w->window->viewers().size(), 1U);
    edbwin::ViewerDialog& viewer = *w->window->viewers().front();
    ASSERT_TRUE(viewer.isOpen());
    EXPECT_EQ(edbwin::ItemText(viewer.hwnd(), IDC_VIEW_SUBJECT),
              CellText(list, withAttachment, 2));
    EXPECT_FALSE(edbwin::ItemText(viewer.hwnd(), IDC_VIEW_FROM).empty());
    ASSERT_FALSE(viewer.content().eml.attachments.empty());
    EXPECT_EQ(ListView_GetItemCount(viewer.item(IDC_VIEW_ATTACHMENTS)),
              static_cast<int>(viewer.content().eml.attachments.size()));
    // Save...: the attachment's bytes, exactly.
    const std::filesystem::path saved = FreshFolder("attachment") / "saved.bin";
    w->prompts.saveFile = edbwin::Utf8(saved.wstring());
    ASSERT_TRUE(Press(viewer.item(IDC_VIEW_SAVE)));
    const auto& bytes = viewer.content().eml.attachments.front().bytes;
    EXPECT_EQ(FileBytes(saved),
              std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    EXPECT_EQ(edbwin::ItemText(viewer.hwnd(), IDC_VIEW_BODY), viewer.bodyText());
}

TEST(WindowFlows, AnHtmlBodyShowsItsVisibleTextAndOpensInTheBrowser) {
    auto w = OpenDemo(true);
    const HWND tree = w->control(IDC_FOLDER_TREE);
    // Each folder in turn until a message with an HTML body turns up.
    for (const TreeEntry& e : TreeItems(tree)) {
        TreeView_SelectItem(tree, e.item);
        ASSERT_TRUE(PumpUntil([&] { return w->idle(); }));
        for (const edb::views::ListRow& row : w->window->messageRows()) {
            edbwin::ViewerDialog viewer(w->catalog, *row.entry, w->prompts);
            if (!viewer.content().eml.html) {
                continue;
            }
            ASSERT_TRUE(viewer.create(IDD_VIEWER, w->window->hwnd()));
            ShowWindow(viewer.hwnd(), SW_SHOW);
            const std::string body = edbwin::ItemText(viewer.hwnd(), IDC_VIEW_BODY);
            EXPECT_EQ(body.find('<'), std::string::npos) << body;
            EXPECT_FALSE(body.empty());
            ASSERT_TRUE(Press(viewer.item(IDC_VIEW_BROWSER)));
            ASSERT_EQ(w->prompts.opened.size(), 1U);
            EXPECT_EQ(FileBytes(std::filesystem::path(edbwin::Wide(w->prompts.opened[0]))),
                      *viewer.content().eml.html);
            return;
        }
    }
    FAIL() << "the demo store has no HTML message";
}

TEST(WindowFlows, ConvertWritesWhatEdb2emlExportWrites) {
    auto w = OpenDemo(true);
    const HWND tree = w->control(IDC_FOLDER_TREE);
    const HTREEITEM root = TreeView_GetRoot(tree);
    const std::string mailbox = TreeItems(tree).front().text;
    // A second copy: the window holds its store without sharing, as edb2eml would.
    const std::filesystem::path copy = FreshFolder("copy") / "demo.edb";
    edbtest::writeDemoStore(copy);
    for (const auto& [kind, format] : {std::pair{ConvertTarget::Kind::EmlFolder, "eml"},
                                       std::pair{ConvertTarget::Kind::Mbox, "mbox"},
                                       std::pair{ConvertTarget::Kind::Pst, "pst"}}) {
        const std::filesystem::path mine = FreshFolder(std::string("window-") + format);
        const std::filesystem::path theirs = FreshFolder(std::string("cli-") + format);
        w->prompts.target = ConvertTarget{kind, edbwin::Utf8(mine.wstring())};
        w->prompts.said.clear();
        ToggleTick(tree, root);
        ASSERT_TRUE(Ticked(tree, root));
        ASSERT_TRUE(Press(w->control(IDC_CONVERT)));
        ASSERT_TRUE(PumpUntil([&] { return w->idle(); }));
        // What was written completely loses its ticks; nothing is left ticked.
        EXPECT_TRUE(w->window->session().ticked().empty());
        for (const TreeEntry& e : TreeItems(tree)) {
            EXPECT_FALSE(Ticked(tree, e.item)) << e.text;
        }
        ASSERT_EQ(w->prompts.said.size(), 1U);
        EXPECT_NE(w->prompts.said[0].find("message(s) saved"), std::string::npos)
            << w->prompts.said[0];
        EXPECT_TRUE(IsWindowEnabled(w->window->hwnd()));
        std::string said;
        ASSERT_EQ(RunExport(copy, theirs, format, mailbox, said), 0) << said;
        const auto a = Tree(mine);
        const auto b = Tree(theirs);
        EXPECT_GT(a.size(), std::string(format) == "pst" ? 0U : 5U); // one PST per mailbox
        EXPECT_TRUE(a == b) << format << ": " << a.size() << " entries against " << b.size();
    }
}

TEST(WindowFlows, CancelledConvertEndsAndRefusedDestinationsWriteNothing) {
    auto w = OpenDemo(true);
    const HWND tree = w->control(IDC_FOLDER_TREE);
    ToggleTick(tree, TreeView_GetRoot(tree));
    // Maildir and upload are refused with the reason, before anything is written.
    for (const auto kind : {ConvertTarget::Kind::Maildir, ConvertTarget::Kind::Imap}) {
        const std::filesystem::path out = FreshFolder("refused");
        w->prompts.target = ConvertTarget{kind, edbwin::Utf8(out.wstring())};
        w->prompts.said.clear();
        ASSERT_TRUE(Press(w->control(IDC_CONVERT)));
        ASSERT_EQ(w->prompts.said.size(), 1U);
        EXPECT_EQ(w->prompts.said[0], edbwin::TargetUnavailableReason(kind));
        EXPECT_FALSE(w->prompts.said[0].empty());
        EXPECT_TRUE(std::filesystem::is_empty(out));
    }
    // Cancel while it runs: the progress dialog goes, the summary comes, the window is usable.
    const std::filesystem::path out = FreshFolder("cancelled");
    w->prompts.target = ConvertTarget{ConvertTarget::Kind::EmlFolder, edbwin::Utf8(out.wstring())};
    w->prompts.said.clear();
    SendMessageW(w->window->hwnd(), WM_COMMAND, IDC_CONVERT, 0);
    ASSERT_NE(w->window->convertProgress(), nullptr);
    EXPECT_FALSE(IsWindowEnabled(w->control(IDC_CONVERT))) << "one conversion at a time";
    SendMessageW(w->window->convertProgress()->hwnd(), WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(PumpUntil([&] { return w->idle(); }));
    EXPECT_EQ(w->window->convertProgress(), nullptr);
    EXPECT_TRUE(IsWindowEnabled(w->window->hwnd()));
    ASSERT_EQ(w->prompts.said.size(), 1U);
    EXPECT_FALSE(w->window->session().running(edb::session::Task::Convert));
    EXPECT_TRUE(w->window->session().allowed(edb::session::Command::Convert));
}

TEST(WindowFlows, FindListsMatchesAndEnterOnOneOpensIt) {
    auto w = OpenDemo(false);
    SendMessageW(w->window->hwnd(), WM_COMMAND, IDM_FIND, 0);
    Pump();
    edbwin::FindDialog* find = w->window->findDialog();
    ASSERT_NE(find, nullptr);
    ASSERT_TRUE(IsWindowVisible(find->hwnd()));
    ASSERT_TRUE(Press(find->item(IDC_FIND_GO)));
    ASSERT_TRUE(PumpUntil([&] { return !find->searching(); }));
    const std::size_t everything = find->results().size();
    ASSERT_GT(everything, 10U);
    // Narrowed by a subject word of the first match: fewer, and each holds the word.
    const std::string subject = find->results().front().cells[3];
    const std::string word = subject.substr(0, subject.find(' '));
    edbwin::SetItemText(find->hwnd(), IDC_FIND_TEXT, word);
    ASSERT_TRUE(Press(find->item(IDC_FIND_GO)));
    ASSERT_TRUE(PumpUntil([&] { return !find->searching(); }));
    ASSERT_FALSE(find->results().empty());
    for (const edbwin::FoundRow& r : find->results()) {
        EXPECT_TRUE(r.cells[2].find(word) != std::string::npos ||
                    r.cells[3].find(word) != std::string::npos);
    }
    const HWND results = find->item(IDC_FIND_RESULTS);
    EXPECT_EQ(CellText(results, 0, 3), find->results().front().cells[3]);
    SelectRow(results, 0);
    EXPECT_TRUE(IsWindowEnabled(find->item(IDC_FIND_OPEN)));
    Key(results, VK_RETURN);
    ASSERT_EQ(w->window->viewers().size(), 1U);
    EXPECT_EQ(edbwin::ItemText(w->window->viewers().front()->hwnd(), IDC_VIEW_SUBJECT),
              find->results().front().cells[3]);
    // A date that is no date is said, and nothing is searched.
    edbwin::SetItemText(find->hwnd(), IDC_FIND_AFTER, "3 May");
    ASSERT_TRUE(Press(find->item(IDC_FIND_GO)));
    EXPECT_FALSE(find->searching());
    EXPECT_NE(edbwin::ItemText(find->hwnd(), IDC_FIND_STATUS).find("yyyy-mm-dd"),
              std::string::npos);
}

TEST(WindowFlows, AFileWithoutMailboxesIsSaidThenAStoreOpens) {
    static const bool prepared = edbwin::PrepareProcess();
    (void)prepared;
    edb::StoreCatalog catalog;
    ScriptedPrompts prompts;
    edbwin::MainWindow window(catalog, prompts);
    ASSERT_TRUE(window.create());
    ShowWindow(window.hwnd(), SW_SHOW);
    const std::filesystem::path junk = FreshFolder("junk") / "notes.edb";
    std::ofstream(junk, std::ios::binary) << std::string(3 * 4096, 'x');
    prompts.storeFile = edbwin::Utf8(junk.wstring());
    ASSERT_TRUE(Press(GetDlgItem(window.hwnd(), IDC_BROWSE)));
    ASSERT_TRUE(PumpUntil([&] { return window.pendingWork() == 0; }));
    ASSERT_EQ(prompts.said.size(), 1U);
    EXPECT_NE(prompts.said[0].find("notes.edb"), std::string::npos) << prompts.said[0];
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window.hwnd(), IDC_BROWSE)));
    EXPECT_EQ(ListView_GetItemCount(GetDlgItem(window.hwnd(), IDC_MAILBOX_LIST)), 0);
    // Then the store, dropped on the window as Explorer drops a file.
    const std::wstring name = DemoStore().wstring();
    const std::size_t bytes = sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t);
    const HGLOBAL drop = GlobalAlloc(GHND, bytes);
    auto* files = static_cast<DROPFILES*>(GlobalLock(drop));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), name.c_str(),
                (name.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(drop);
    SendMessageW(window.hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    ASSERT_TRUE(PumpUntil([&] { return window.pendingWork() == 0; }));
    EXPECT_GE(ListView_GetItemCount(GetDlgItem(window.hwnd(), IDC_MAILBOX_LIST)), 2);
    EXPECT_FALSE(window.openStore(edbwin::Utf8(DemoStore().wstring()))) << "one store per run";
}

TEST(WindowFlows, HelpExitAndEnterEndTheRunAsTheySay) {
    const std::filesystem::path start = FreshFolder("start");
    wchar_t before[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(MAX_PATH * 4, before);
    SetCurrentDirectoryW(start.c_str());
    auto w = OpenDemo(false);
    SetCurrentDirectoryW(before);
    const HWND main = w->window->hwnd();
    SendMessageW(main, WM_COMMAND, IDM_CONTENT, 0);
    ASSERT_FALSE(w->prompts.said.empty());
    EXPECT_EQ(w->prompts.said.back(), "Unable to locate software Help file");
    std::ofstream(start / "QlrEmlExchange.html") << "<html></html>";
    SendMessageW(main, WM_COMMAND, IDM_CONTENT, 0);
    ASSERT_EQ(w->prompts.opened.size(), 1U);
    EXPECT_EQ(std::filesystem::path(edbwin::Wide(w->prompts.opened[0])).filename(),
              "QlrEmlExchange.html");
    // Exit and the title bar's close ask first; No keeps the window.
    SendMessageW(main, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(w->prompts.said.back(), "Are you sure, you want to close the software?");
    SendMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(w->prompts.said.back(), "Do you want to stop current process ?");
    EXPECT_TRUE(IsWindow(main));
    // Enter outside the lists is the dialog's OK: the run ends without a question.
    const std::size_t asked = w->prompts.said.size();
    Key(w->control(IDC_PATH_EDIT), VK_RETURN);
    EXPECT_FALSE(IsWindow(main));
    EXPECT_EQ(w->prompts.said.size(), asked);
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // the run's end, for the next test
}

} // namespace
} // namespace edbwintest
