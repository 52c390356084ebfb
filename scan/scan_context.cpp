#include "scan/scan_context.h"

#include <chrono>
#include <cstdio>

namespace edb {

namespace {
std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

void ScanContext::reportProgress(std::int64_t done, std::int64_t total) const {
    report(total == 0 ? 0 : 100 * (done - 1) / total);
}

void ScanContext::pageListProgress(std::int64_t k) const {
    reportProgress(k, catalog.recordedPageCount);
}

void ScanContext::report(std::int64_t position) const {
    if (position != lastReported) {
        lastReported = position;
        host.progress(position);
    }
}

void ScanContext::startStageTimes() {
    stageTimes = true;
    stageStartNs = nowNs();
}

void ScanContext::stageDone(const char* stage) const {
    host.stageFinished(stage);
    if (!stageTimes) {
        return;
    }
    const std::int64_t now = nowNs();
    std::fprintf(stderr, "stage %-16s %9.3f s\n", stage,
                 static_cast<double>(now - stageStartNs) / 1e9);
    stageStartNs = now;
}

} // namespace edb
