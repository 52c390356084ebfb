#pragma once
// A one-line progress bar on stderr, drawn only when stderr is a terminal.
#include <string>

namespace edbcli {

class ProgressBar {
public:
    ProgressBar(std::string label, bool wanted);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;
    void show(int percent); // redraws only when the value changed
    void finish();          // clears the line

private:
    std::string m_label;
    bool m_enabled;
    int m_shown = -1;
};

} // namespace edbcli
