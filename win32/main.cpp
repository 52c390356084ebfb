// exchange-to-eml.exe: the window of Exchange To Eml on Windows. One main dialog; the run ends
// with it.
//
//     exchange-to-eml.exe [STORE.edb]
//     exchange-to-eml.exe --version
//
// A store named on the command line (as Explorer's "Open with" does) opens as Browse would.
#include "catalog/catalog.h"
#include "win32/main_window.h"
#include "win32/prompts.h"
#include "win32/resource_ids.h"
#include "win32/start.h"
#include "win32/wide_text.h"
#include "win32/window_texts.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

// --version writes to the standard output it was given (a file, a pipe) or to the console
// it was started from; started from Explorer, it says it in a box.
void ShowVersion() {
    const std::string text = "exchange-to-eml " EDB_VERSION "\n";
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    bool attached = false;
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        attached = AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
        out = attached ? CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr)
                       : INVALID_HANDLE_VALUE;
    }
    DWORD written = 0;
    if (out == INVALID_HANDLE_VALUE ||
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) == FALSE) {
        MessageBoxW(nullptr, edbwin::Wide(text).c_str(), edbwin::Wide(edbwin::kCaption).c_str(),
                    MB_OK | MB_ICONINFORMATION);
    }
}

std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    int count = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) {
            args.push_back(edbwin::Utf8(argv[i]));
        }
        LocalFree(argv);
    }
    return args;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    const std::vector<std::string> args = Arguments();
    if (!args.empty() && args.front() == "--version") {
        ShowVersion();
        return 0;
    }
    edbwin::PrepareProcess();
    // The catalog lives for the whole run.
    static edb::StoreCatalog catalog;
    int status = 0;
    {
        edbwin::MainWindow window(catalog, edbwin::SystemPrompts());
        if (!window.create()) {
            MessageBoxW(nullptr, L"The main window could not be created.",
                        edbwin::Wide(edbwin::kCaption).c_str(), MB_OK | MB_ICONERROR);
            return 1;
        }
        ShowWindow(window.hwnd(), show);
        if (!args.empty()) {
            (void)window.openStore(args.front());
        }
        const HACCEL keys = LoadAcceleratorsW(GetModuleHandleW(nullptr),
                                              MAKEINTRESOURCEW(IDR_ACCELERATORS));
        status = edbwin::RunMessageLoop(window.hwnd(), keys);
    }
    return status;
}
