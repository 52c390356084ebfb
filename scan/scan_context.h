#pragma once
// What the scan's stages share while it runs, and the host they report to. The stages see only
// this; the scan driver (scan.h) runs them in order.
#include "catalog/catalog.h"
#include "io/cancel.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace edb {

class ScanHost {
public:
    virtual ~ScanHost() = default;
    // Raw position as computed; the host shows it clamped to 0..100.
    virtual void progress(std::int64_t position) = 0;
    // The mailbox list is filled: rows in mailbox-list order.
    virtual void mailboxRowsReady(const std::vector<std::string>& names) = 0;
    // Stage `stage` ("first-pass", ... "lv-matching", the names kScanStages lists) is done;
    // progress() starts again from 0 for the next one.
    virtual void stageFinished(const char* stage) { static_cast<void>(stage); }
};

class ChunkPageCandidates;
class ChainMarkerIndex;

// What the stages share while the scan runs.
struct ScanContext {
    StoreCatalog& catalog;
    ScanHost& host;
    const CancelToken* cancel;
    // Waits while paused; throws Cancelled once stopped.
    void checkpoint() const {
        if (cancel != nullptr) {
            cancel->checkpoint();
        }
    }
    // Every stage's progress: `done` of `total` units (bytes, pages, list entries) shown as
    // 100 * (done - 1) / total, truncated toward zero; 0 while there is no total.
    void reportProgress(std::int64_t done, std::int64_t total) const;
    // Progress over the pages the first pass recorded: done = k, 1-based.
    void pageListProgress(std::int64_t k) const;
    // Reports a position; the host hears of it only when it changed.
    void report(std::int64_t position) const;
    mutable std::int64_t lastReported = INT64_MIN;

    // Opt-in stage timings (EDB_STAGE_TIMES=1 in the environment): one line per stage on
    // stderr, the time since the previous mark. Silent otherwise.
    void stageDone(const char* stage) const;
    // Turns the timings on, the clock starting now.
    void startStageTimes();
    bool stageTimes = false;
    // Chunk-page candidates of the first pass; null (or not ok) makes the long-value stage read
    // the store again.
    std::shared_ptr<ChunkPageCandidates> chunkCandidates{};
    // The store's chunk markers, noted by the first pass for the chain walk; null (or given up)
    // makes the walk read its blocks.
    std::shared_ptr<ChainMarkerIndex> chainMarkers{};
    mutable std::int64_t stageStartNs = 0;
};

} // namespace edb
