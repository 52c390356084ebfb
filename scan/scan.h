#pragma once
// The scan: one function run on a worker thread, talking to whoever started it through a small
// host interface. The catalog is the only state it leaves behind.
#include "catalog/catalog.h"
#include "io/bytes.h"
#include "io/cancel.h"
#include "scan/scan_context.h"

#include <cstdint>
#include <string>
#include <vector>

namespace edb {

enum class ScanOutcome {
    Complete,
    NoMailbox,
    OpenFailed,
    ReadError,
    Stopped,
    OutOfMemory,
    Failed, // an unexpected failure inside the scan (not the store's bytes: those never throw)
};

[[nodiscard]] const char* OutcomeName(ScanOutcome o); // "complete", "no_mailbox", ...

// The reason of a scan that found the store's size changed while it was read.
inline constexpr const char* kFileChangedReason = "the file changed while it was read";

// How a scan ended, as facts; the front ends put them in words.
struct ScanResult {
    ScanOutcome outcome = ScanOutcome::Complete;
    std::string file;   // OpenFailed, ReadError, Failed: the file that failed (the store path)
    std::string reason; // ... and why: the system's error text, or the fault inside the scan
    int errorCode = 0;  // system error code of an open or read failure
    std::uint64_t errorOffset = 0;
    StopReason stopReason = StopReason::None; // why a Stopped scan stopped
    bool inLongValueKeys = false; // OutOfMemory: memory ran out filling the long-value key list
    // ReadError: the store's size at the end differs from its size at the start; what was read
    // may be a mix of two states of the file.
    bool fileChanged = false;
    // What the disk could not give back, in file order (any outcome): the scan read zeros
    // there and went on, so what those pages held is missing and nothing else.
    std::vector<UnreadableRange> unreadable;
};

// The scan's stages in the order they run; a scan may end before the last or skip one.
inline constexpr const char* kScanStages[] = {
    "first-pass",    "mailboxes",     "folders",     "folder-tables",  "table-pages", "properties",
    "chunks-mode-1", "chunks-mode-2", "attachments", "lv-chunk-pages", "lv-matching"};

// Clamp of a raw progress position for display.
[[nodiscard]] int ClampProgress(std::int64_t position);

// Runs the whole scan of `path` into `catalog`. `cancel` (may be null) pauses the scan and stops
// it at page boundaries. A failure that is neither a file error nor a stop nor exhausted memory
// ends the scan as Failed, with its reason in the message.
ScanResult RunScan(StoreCatalog& catalog, const std::string& path, ScanHost& host,
                   const CancelToken* cancel = nullptr);

// Page scan (first pass): records the pages of interest and picks up the N1013 code.
// `page` is one page of n bytes at offset `o`; exposed for tests and fuzzing.
void JudgeFirstPassPage(StoreCatalog& catalog, const ByteView& page, std::uint64_t o,
                        std::int32_t& recorded);
void RunFirstPass(ScanContext& ctx);

} // namespace edb
