// The windows the main dialog opens beside itself: the message viewer, Find, Help and About.
#include "win32/about_dialog.h"
#include "win32/find_dialog.h"
#include "win32/main_window.h"
#include "win32/resource_ids.h"
#include "win32/viewer_dialog.h"
#include "win32/wide_text.h"
#include "win32/window_texts.h"

#include <filesystem>

namespace edbwin {

namespace {

// The help pages: the compiled help where present, else the HTML page; beside the program
// first, then in the directory it was started from.
std::string FindHelp(const std::string& startupDirectory) {
    wchar_t module[MAX_PATH * 4] = {};
    const DWORD n = GetModuleFileNameW(nullptr, module, static_cast<DWORD>(std::size(module)));
    std::vector<std::filesystem::path> places;
    if (n > 0 && n < std::size(module)) {
        places.push_back(std::filesystem::path(module).parent_path());
    }
    places.push_back(std::filesystem::path(Wide(startupDirectory)));
    for (const auto& dir : places) {
        for (const wchar_t* name : {L"QlrEmlExchange.chm", L"QlrEmlExchange.html"}) {
            std::error_code ec;
            if (std::filesystem::is_regular_file(dir / name, ec)) {
                return Utf8((dir / name).wstring());
            }
        }
    }
    return {};
}

} // namespace

void MainWindow::viewMessage(const edb::MessageEntry* message) {
    if (message == nullptr || !m_session.allowed(edb::session::Command::ViewMessage)) {
        return;
    }
    // Closed viewers are forgotten here; each open one is its own window.
    m_viewers.remove_if([](const std::unique_ptr<ViewerDialog>& v) { return !v->isOpen(); });
    auto viewer = std::make_unique<ViewerDialog>(m_catalog, *message, m_prompts);
    if (viewer->create(IDD_VIEWER, hwnd())) {
        ShowWindow(viewer->hwnd(), SW_SHOW);
        m_viewers.push_back(std::move(viewer));
    }
}

void MainWindow::openFind() {
    if (!m_session.allowed(edb::session::Command::Find)) {
        return;
    }
    if (m_find == nullptr || !m_find->isOpen()) {
        m_find = std::make_unique<FindDialog>(
            m_catalog, m_session, [this](const edb::MessageEntry* m) { viewMessage(m); });
        if (!m_find->create(IDD_FIND, hwnd())) {
            m_find.reset();
            return;
        }
    }
    ShowWindow(m_find->hwnd(), SW_SHOW);
    SetForegroundWindow(m_find->hwnd());
    SetFocus(m_find->item(IDC_FIND_TEXT));
}

void MainWindow::help() {
    const std::string path = FindHelp(m_startupDirectory);
    if (path.empty()) {
        m_prompts.showInformation(hwnd(), kHelpMissing);
        return;
    }
    if (!m_prompts.openWithDesktop(path)) {
        m_prompts.showError(hwnd(), "Unable to open the help file " + path +
                                        ": this desktop has no program for it.");
    }
}

void MainWindow::about() {
    AboutDialog box(m_prompts);
    box.runModal(IDD_ABOUT, hwnd());
}

} // namespace edbwin
