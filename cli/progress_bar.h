#pragma once
// A one-line progress bar on stderr, drawn only when stderr is a terminal.
#include <cstddef>
#include <string>

namespace edbcli {

class ProgressBar {
public:
    ProgressBar(std::string label, bool wanted);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;
    void show(int percent); // redraws only when the value changed
    // With a text after the bar (counts, rate); redraws at most ten times a second.
    void show(int percent, const std::string& detail);
    void finish(); // clears the line

private:
    std::string m_label;
    bool m_enabled;
    int m_shown = -1;
    long long m_drawnAt = 0; // steady clock, milliseconds
    std::size_t m_width = 0; // characters of the last line drawn
};

} // namespace edbcli
