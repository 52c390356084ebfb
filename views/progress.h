#pragma once
// One progress model for the scan: the window's bar shows each stage's own position (it starts
// again at 0 for every stage); the command line's single bar fills each stage's share of the
// whole, weighted by how long the stages take on large stores. Both follow the same stages.
#include <cstdint>
#include <string_view>

namespace edb::views {

class ScanProgress {
public:
    // Stage `name` (one of the scan's stage names) is done; a stage skipped leaves its share
    // behind. Unknown names and stages already passed change nothing (false).
    bool stageFinished(std::string_view name);
    // The window's bar, 0..100, for a position inside the current stage.
    [[nodiscard]] static int stagePercent(std::int64_t position);
    // The command line's bar, 0..100 over the whole scan.
    [[nodiscard]] int overallPercent(std::int64_t position) const;
    [[nodiscard]] int stagesDone() const { return m_stagesDone; }

private:
    int m_stagesDone = 0;
};

// Percent of work counted in items (Convert's messages): 100 when there is nothing to do.
[[nodiscard]] int WorkPercent(std::uint64_t done, std::uint64_t total);

} // namespace edb::views
