#pragma once
// Everything the window asks the user in a box or a system dialog of its own: questions,
// messages, file and folder choices, Convert's destination, and handing a file or address to
// the desktop. The program uses the system's (system_prompts.cpp); the window's tests answer
// them from a script.
#include "views/destinations.h"

#include <windows.h>

#include <optional>
#include <string>

namespace edbwin {

struct ConvertTarget {
    using Kind = edb::views::DestinationKind;
    Kind kind = Kind::EmlFolder;
    std::string folder; // UTF-8
};

class Prompts {
public:
    virtual ~Prompts() = default;
    virtual bool askYesNo(HWND owner, const std::string& text) = 0;
    virtual void showError(HWND owner, const std::string& text) = 0;
    virtual void showInformation(HWND owner, const std::string& text) = 0;
    // Empty when the user cancels.
    virtual std::string chooseStoreFile(HWND owner) = 0;
    virtual std::string chooseFolder(HWND owner, const std::string& title) = 0;
    virtual std::string chooseSaveFile(HWND owner, const std::string& title,
                                       const std::string& suggested) = 0;
    virtual std::optional<ConvertTarget> chooseConvertTarget(HWND owner) = 0;
    // Opens a file, folder or address with the desktop's program for it.
    virtual bool openWithDesktop(const std::string& target) = 0;
};

// The system's boxes and dialogs.
[[nodiscard]] Prompts& SystemPrompts();

// Why the Windows window cannot write to a destination, or empty when it can.
[[nodiscard]] std::string TargetUnavailableReason(ConvertTarget::Kind kind);

} // namespace edbwin
