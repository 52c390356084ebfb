#include "scan/scan.h"

#include "decode/long_values.h"
#include "scan/discovery.h"
#include "scan/late_stages.h"
#include "scan/spill_files.h"
#include "io/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace edb {

namespace {
constexpr std::size_t kOwnerOffset = 24;
constexpr std::size_t kFirstPassBlockPages = 256; // 1 MiB per system call
constexpr std::uint8_t kN1013[] = {'N', '1', '0', '1', '3'};

bool recordedAlways(std::uint32_t owner) {
    return owner == 8 || owner == 19 || owner == 21 || owner == 61 || owner == 106;
}

// First p with 0x80 at p and 0x2D at p + 4, or n when there is none.
std::size_t findOwner2Pattern(const std::uint8_t* p, std::size_t n) {
    if (n < 5) {
        return n;
    }
    const std::uint8_t* cur = p;
    const std::uint8_t* last = p + (n - 5); // last position where the pattern fits
    while (cur <= last) {
        const void* hit = std::memchr(cur, 0x80, static_cast<std::size_t>(last - cur) + 1);
        if (hit == nullptr) {
            return n;
        }
        const auto* h = static_cast<const std::uint8_t*>(hit);
        if (h[4] == 0x2D) {
            return static_cast<std::size_t>(h - p);
        }
        cur = h + 1;
    }
    return n;
}
} // namespace

const char* OutcomeName(ScanOutcome o) {
    switch (o) {
    case ScanOutcome::Complete:
        return "complete";
    case ScanOutcome::NoMailbox:
        return "no_mailbox";
    case ScanOutcome::OpenFailed:
        return "open_failed";
    case ScanOutcome::ReadError:
        return "read_error";
    case ScanOutcome::Stopped:
        return "stopped";
    case ScanOutcome::OutOfMemory:
        return "out_of_memory";
    case ScanOutcome::Failed:
        return "failed";
    }
    return "unknown";
}

int ClampProgress(std::int64_t position) {
    return static_cast<int>(std::clamp<std::int64_t>(position, 0, 100));
}

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

namespace {
std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

void ScanContext::stageDone(const char* stage) const {
    if (!stageTimes) {
        return;
    }
    const std::int64_t now = nowNs();
    std::fprintf(stderr, "stage %-16s %9.3f s\n", stage,
                 static_cast<double>(now - stageStartNs) / 1e9);
    stageStartNs = now;
}

void JudgeFirstPassPage(StoreCatalog& catalog, const ByteView& page, std::uint64_t o,
                        std::int32_t& recorded) {
    const auto owner = page.readU32Le(kOwnerOffset);
    if (!owner) {
        return; // a last page shorter than 28 bytes has no owner number
    }
    if (recordedAlways(*owner)) {
        // A chunk page's body reference is all the chunk stage needs of it: noted now, the
        // page is not read again.
        catalog.pageList.AddPage(*owner, o, *owner == 106 ? ModeOneReference(page) : 0);
        ++recorded;
        return;
    }
    if (*owner != 2) {
        return;
    }
    const std::size_t n = page.size();
    const std::size_t patternAt = findOwner2Pattern(page.data(), n);
    // Only occurrences of "N1013" before the pattern count; the last one wins.
    for (std::size_t p = 23; p < patternAt && p + sizeof kN1013 <= n; ++p) {
        if (page.data()[p] != 'N' || !page.matches(static_cast<std::int64_t>(p), kN1013)) {
            continue;
        }
        const std::uint8_t c0 = page.data()[p - 23];
        const std::uint8_t c1 = page.data()[p - 22];
        if (c0 != 0 && c1 != 0) {
            catalog.n1013Code = {c0, c1};
        }
    }
    if (patternAt < n) {
        catalog.pageList.AddPage(2, o);
        ++recorded;
    }
}

void RunFirstPass(ScanContext& ctx) {
    StoreCatalog& cat = ctx.catalog;
    const std::uint64_t size = cat.storeSize;
    std::int32_t recorded = 0;
    ctx.chunkCandidates = std::make_shared<ChunkPageCandidates>();
    ChunkPageCandidates* candidates =
        ctx.chunkCandidates->ok() ? ctx.chunkCandidates.get() : nullptr;
    // The chunk-page notes of each block, found and encoded by the thread that read it: this
    // thread only judges owners and appends the notes.
    constexpr std::size_t kSlots = 3;
    std::vector<std::vector<std::uint8_t>> notes(BlockReadAhead::SlotCount(kSlots));
    BlockReadAhead::Prepare noteChunkPages;
    if (candidates != nullptr) {
        noteChunkPages = [&notes, size](const BlockReadAhead::Block& block) {
            std::vector<std::uint8_t>& out = notes[block.slot];
            out.clear();
            ChunkPageRecords records;
            for (std::uint64_t in = 0; in < block.want; in += kPageSize) {
                const std::uint64_t o = block.base + in;
                const ByteView page(
                    block.bytes + in,
                    static_cast<std::size_t>(std::min<std::uint64_t>(kPageSize, size - o)));
                if (HasChunkPageShape(page)) {
                    FindChunkRecords(page, records);
                    ChunkPageCandidates::Encode(o, page.readU32Le(kOwnerOffset).value_or(0),
                                                records, out);
                }
            }
        };
    }
    BlockReadAhead reader(cat.storeFile, size, kFirstPassBlockPages * kPageSize, kSlots,
                          std::move(noteChunkPages));
    BlockReadAhead::Block block;
    while (reader.next(block)) {
        for (std::uint64_t in = 0; in < block.want; in += kPageSize) {
            ctx.checkpoint();
            const std::uint64_t o = block.base + in;
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(kPageSize, size - o));
            JudgeFirstPassPage(cat, ByteView(block.bytes + in, n), o, recorded);
            ctx.reportProgress(static_cast<std::int64_t>(o), static_cast<std::int64_t>(size));
        }
        if (candidates != nullptr) {
            candidates->noteEncoded(notes[block.slot]);
        }
    }
    cat.recordedPageCount = recorded;
}

ScanResult RunScan(StoreCatalog& catalog, const std::string& path, ScanHost& host,
                   const CancelToken* cancel) {
    ScanResult result;
    ScanContext ctx{catalog, host, cancel};
    if (const char* env = std::getenv("EDB_STAGE_TIMES"); env != nullptr && env[0] == '1') {
        ctx.stageTimes = true;
        ctx.stageStartNs = nowNs();
    }
    FileErrorRecord openError;
    if (!catalog.storeFile.Open(path, &openError)) {
        result.outcome = ScanOutcome::OpenFailed;
        result.errorCode = openError.code;
        result.file = path;
        result.reason = openError.reason();
        return result;
    }
    bool keyStage = false;
    try {
        catalog.storeSize = catalog.storeFile.GetLength();
        catalog.recordedPageCount = 0;
        catalog.n1013Code = {0x5C, 0x01};
        RunFirstPass(ctx);
        ctx.stageDone("first-pass");
        RunMailboxPass(ctx);
        ctx.stageDone("mailboxes");
        if (catalog.folderList.empty()) {
            catalog.storeFile.Close();
            result.outcome = ScanOutcome::NoMailbox;
            return result;
        }
        host.mailboxRowsReady(ListMailboxes(catalog));
        RunFolderDiscovery(ctx);
        ctx.stageDone("folders");
        RunLateStages(ctx, keyStage);
        if (ctx.stageTimes) {
            std::fprintf(stderr, "stage-info recorded_pages=%d messages=%zu\n",
                         catalog.recordedPageCount, catalog.messages.size());
        }
    } catch (const FileError& e) {
        result.outcome = ScanOutcome::ReadError;
        result.errorCode = e.code();
        result.errorOffset = e.offset();
        result.file = e.fileName();
        result.reason = e.reason();
    } catch (const Cancelled& c) {
        result.outcome = ScanOutcome::Stopped;
        result.stopReason = c.reason;
    } catch (const std::bad_alloc&) {
        result.outcome = ScanOutcome::OutOfMemory;
        result.inLongValueKeys = keyStage;
    } catch (const std::exception& e) {
        // A fault of the program, not a stop: said as an error, never passed off as "Stopped".
        result.outcome = ScanOutcome::Failed;
        result.file = path;
        result.reason = e.what();
    }
    return result;
}

} // namespace edb
