#pragma once
// Convert's progress: a label, a bar and Cancel, over a main dialog that waits meanwhile.
#include "win32/dialog.h"

#include <functional>
#include <string>

namespace edbwin {

class ProgressDialog : public Dialog {
public:
    explicit ProgressDialog(std::function<void()> cancel) : m_cancel(std::move(cancel)) {}
    void show(const std::string& label, int percent);

protected:
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    std::function<void()> m_cancel;
};

} // namespace edbwin
