#pragma once
// Convert's destination: .eml files or mbox files under a folder the user picks. Maildir and
// IMAP upload are offered as on Linux but refused here, with the reason, as edb2eml.exe does.
#include "win32/dialog.h"
#include "win32/prompts.h"

#include <optional>

namespace edbwin {

class DestinationDialog : public Dialog {
public:
    explicit DestinationDialog(Prompts& prompts) : m_prompts(prompts) {}
    // Modal; nothing when the user cancels.
    std::optional<ConvertTarget> ask(HWND owner);
    // The choice as the controls show it now.
    [[nodiscard]] ConvertTarget shown() const;

protected:
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void initialise();
    void kindChanged();
    void accept();
    Prompts& m_prompts;
    ConvertTarget m_result;
};

} // namespace edbwin
