#include "cli/progress_bar.h"

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace edbcli {

ProgressBar::ProgressBar(std::string label, bool wanted)
    : m_label(std::move(label)), m_enabled(wanted && ::isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
    finish();
}

void ProgressBar::show(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (!m_enabled || percent == m_shown) {
        return;
    }
    m_shown = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r%-9s[%.*s%*s] %3d%%", m_label.c_str(), filled,
                 "########################################", kWidth - filled, "", percent);
    std::fflush(stderr);
}

void ProgressBar::finish() {
    if (m_enabled && m_shown >= 0) {
        std::fprintf(stderr, "\r%*s\r", 60, "");
        std::fflush(stderr);
        m_shown = -1;
    }
}

} // namespace edbcli
