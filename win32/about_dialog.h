#pragma once
// The About box: what the program is, its version, and the two addresses as links.
#include "win32/dialog.h"
#include "win32/prompts.h"

namespace edbwin {

class AboutDialog : public Dialog {
public:
    explicit AboutDialog(Prompts& prompts) : m_prompts(prompts) {}

protected:
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    Prompts& m_prompts;
};

// What the About box says about the program.
[[nodiscard]] std::string AboutText();

} // namespace edbwin
