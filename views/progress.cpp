#include "views/progress.h"

#include "scan/scan.h"

#include <iterator>

namespace edb::views {

namespace {
// Shares of the bar per stage, in kScanStages order, from the stage times of large stores: the
// first pass reads the whole file, the chunk and long-value stages read most of the rest.
constexpr int kStageWeights[] = {54, 1, 1, 1, 15, 8, 2, 2, 7, 5, 4};
static_assert(std::size(kStageWeights) == std::size(kScanStages));
constexpr int kStageCount = static_cast<int>(std::size(kStageWeights));
constexpr int kWeightTotal = [] {
    int sum = 0;
    for (const int w : kStageWeights) {
        sum += w;
    }
    return sum;
}();
} // namespace

bool ScanProgress::stageFinished(std::string_view name) {
    for (int i = m_stagesDone; i < kStageCount; ++i) {
        if (name == kScanStages[i]) {
            m_stagesDone = i + 1;
            return true;
        }
    }
    return false;
}

int ScanProgress::stagePercent(std::int64_t position) {
    return ClampProgress(position);
}

int ScanProgress::overallPercent(std::int64_t position) const {
    int before = 0;
    for (int i = 0; i < m_stagesDone; ++i) {
        before += kStageWeights[i];
    }
    const int share = m_stagesDone < kStageCount ? kStageWeights[m_stagesDone] : 0;
    const int within = ClampProgress(position) * share / 100;
    return (before + within) * 100 / kWeightTotal;
}

int WorkPercent(std::uint64_t done, std::uint64_t total) {
    if (total == 0) {
        return 100;
    }
    return static_cast<int>(100 * (done < total ? done : total) / total);
}

} // namespace edb::views
