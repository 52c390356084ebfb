// The system's boxes and choosers behind Prompts: message boxes, the common file dialogs and
// the shell.
#include "win32/destination_dialog.h"
#include "win32/prompts.h"
#include "win32/window_texts.h"
#include "win32/wide_text.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace edbwin {

namespace {

std::string ChooseWithFileDialog(HWND owner, const CLSID& kind, const std::string& title,
                                 const std::string& suggested, bool folders, bool stores) {
    IFileDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(kind, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) {
        return {};
    }
    DWORD options = 0;
    dialog->GetOptions(&options);
    options |= FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR;
    if (folders) {
        options |= FOS_PICKFOLDERS;
    }
    dialog->SetOptions(options);
    dialog->SetTitle(Wide(title).c_str());
    if (!suggested.empty()) {
        dialog->SetFileName(Wide(suggested).c_str());
    }
    if (stores) {
        const COMDLG_FILTERSPEC filter[] = {{L"Exchange Server File (*.edb)", L"*.edb"},
                                            {L"All files (*.*)", L"*.*"}};
        dialog->SetFileTypes(2, filter);
    }
    std::string chosen;
    if (SUCCEEDED(dialog->Show(owner))) {
        IShellItem* item = nullptr;
        if (SUCCEEDED(dialog->GetResult(&item))) {
            PWSTR path = nullptr;
            if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
                chosen = Utf8(path);
                CoTaskMemFree(path);
            }
            item->Release();
        }
    }
    dialog->Release();
    return chosen;
}

class SystemBoxes : public Prompts {
public:
    bool askYesNo(HWND owner, const std::string& text) override {
        return box(owner, text, MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    void showError(HWND owner, const std::string& text) override {
        box(owner, text, MB_OK | MB_ICONERROR);
    }
    void showInformation(HWND owner, const std::string& text) override {
        box(owner, text, MB_OK | MB_ICONINFORMATION);
    }
    std::string chooseStoreFile(HWND owner) override {
        return ChooseWithFileDialog(owner, CLSID_FileOpenDialog, "Select Exchange Server File",
                                    {}, false, true);
    }
    std::string chooseFolder(HWND owner, const std::string& title) override {
        return ChooseWithFileDialog(owner, CLSID_FileOpenDialog, title, {}, true, false);
    }
    std::string chooseSaveFile(HWND owner, const std::string& title,
                               const std::string& suggested) override {
        return ChooseWithFileDialog(owner, CLSID_FileSaveDialog, title, suggested, false, false);
    }
    std::optional<ConvertTarget> chooseConvertTarget(HWND owner) override {
        DestinationDialog dialog(*this);
        return dialog.ask(owner);
    }
    bool openWithDesktop(const std::string& target) override {
        const auto result = reinterpret_cast<INT_PTR>(
            ShellExecuteW(nullptr, L"open", Wide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        return result > 32;
    }

private:
    static int box(HWND owner, const std::string& text, UINT style) {
        return MessageBoxW(owner, Wide(text).c_str(), Wide(kCaption).c_str(), style);
    }
};

} // namespace

Prompts& SystemPrompts() {
    static SystemBoxes prompts;
    return prompts;
}

} // namespace edbwin
