#include "cli/progress_bar.h"

#include "cli/console.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace edbcli {

ProgressBar::ProgressBar(std::string label, bool wanted)
    : m_label(std::move(label)), m_enabled(wanted && StandardErrorIsTerminal()) {}

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

void ProgressBar::show(int percent, const std::string& detail) {
    percent = std::clamp(percent, 0, 100);
    if (!m_enabled) {
        return;
    }
    const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    if (percent == m_shown && now - m_drawnAt < 100) {
        return;
    }
    m_shown = percent;
    m_drawnAt = now;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    char line[512];
    const int n = std::snprintf(line, sizeof line, "\r%-9s[%.*s%*s] %3d%% %s", m_label.c_str(),
                                filled, "##############################", kWidth - filled, "",
                                percent, detail.c_str());
    const std::size_t width = n > 0 ? static_cast<std::size_t>(n) : 0;
    // Pad over what a longer previous line left.
    std::fprintf(stderr, "%s%*s", line, static_cast<int>(m_width > width ? m_width - width : 0),
                 "");
    m_width = width;
    std::fflush(stderr);
}

void ProgressBar::finish() {
    if (m_enabled && m_shown >= 0) {
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(std::max<std::size_t>(60, m_width)), "");
        std::fflush(stderr);
        m_shown = -1;
    }
}

} // namespace edbcli
