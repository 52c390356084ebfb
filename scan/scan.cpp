#include "scan/scan.h"

#include "decode/long_values.h"
#include "io/format.h"
#include "io/read_ahead.h"
#include "io/temp_file.h"
#include "scan/chain_markers.h"
#include "scan/discovery.h"
#include "scan/late_stages.h"
#include "scan/spill_files.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace edb {

namespace {
constexpr std::size_t kFirstPassBlockPages = 256; // 1 MiB per system call
constexpr std::int64_t kHyphenAfterMarker = 4;    // a catalog row: 0x80, 3 bytes, "<hex>-"

bool recordedAlways(std::uint32_t owner) {
    return owner == kOwnerFolders || owner == kOwnerProperties || owner == kOwnerMailboxes ||
           owner == kOwnerAttachments || owner == kOwnerBodyChunks;
}

// First position of a catalog row's marker with its hyphen, or the page size when none.
std::int64_t findCatalogRow(const ByteView& page) {
    const auto n = static_cast<std::int64_t>(page.size());
    for (std::int64_t at = 0;; ++at) {
        const auto hit = page.find(kCatalogRowMarker, at, n - kHyphenAfterMarker);
        if (!hit) {
            return n;
        }
        at = *hit;
        if (page.byteOr0(at + kHyphenAfterMarker) == kTableNameHyphen) {
            return at;
        }
    }
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

void JudgeFirstPassPage(StoreCatalog& catalog, const ByteView& page, std::uint64_t o,
                        std::int32_t& recorded) {
    const auto owner = page.readU32Le(kPageOwnerAt);
    if (!owner) {
        return; // a last page shorter than 28 bytes has no owner number
    }
    if (recordedAlways(*owner)) {
        // A chunk page's body reference is all the chunk stage needs of it: noted now, the
        // page is not read again.
        catalog.pageList.AddPage(*owner, o,
                                 *owner == kOwnerBodyChunks ? ModeOneReference(page) : 0);
        ++recorded;
        return;
    }
    if (*owner != kOwnerCatalog) {
        return;
    }
    const auto n = static_cast<std::int64_t>(page.size());
    const std::int64_t rowAt = findCatalogRow(page);
    // Only occurrences of "N1013" before the first row count; the last one wins.
    for (std::int64_t at = kN1013CodeBefore;; ++at) {
        const auto hit = page.find(kN1013Name, at, rowAt);
        if (!hit) {
            break;
        }
        at = *hit;
        const std::uint8_t c0 = page.byteOr0(at - kN1013CodeBefore);
        const std::uint8_t c1 = page.byteOr0(at - kN1013CodeBefore + 1);
        if (c0 != 0 && c1 != 0) {
            catalog.n1013Code = {c0, c1};
        }
    }
    if (rowAt < n) {
        catalog.pageList.AddPage(kOwnerCatalog, o);
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
    ctx.chainMarkers = std::make_shared<ChainMarkerIndex>(size);
    // The chunk-page notes and the chunk markers of each block, found by the thread that read
    // it: this thread only judges owners and appends the notes.
    constexpr std::size_t kSlots = 3;
    const std::size_t slots = BlockReadAhead::SlotCount(kSlots);
    std::vector<std::vector<std::uint8_t>> notes(slots);
    std::vector<std::vector<ChainMarkerIndex::Entry>> markers(slots);
    std::vector<char> markersLost(slots, 0);
    BlockReadAhead::Prepare prepare = [&notes, &markers, &markersLost, candidates, size,
                                       &file = cat.storeFile](const BlockReadAhead::Block& block) {
        if (candidates != nullptr) {
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
                    ChunkPageCandidates::Encode(o, page.readU32Le(kPageOwnerAt).value_or(0),
                                                records, out);
                }
            }
        }
        // A marker near the end of the block may run on into the next one: the few bytes after
        // it are read here too, by the page read rule (zeros where the file ends early).
        markers[block.slot].clear();
        markersLost[block.slot] = 0;
        std::array<std::uint8_t, kChainMarkerReach> after{};
        std::size_t afterBytes = 0;
        const std::uint64_t end = block.base + block.want;
        if (end < size) {
            afterBytes =
                static_cast<std::size_t>(std::min<std::uint64_t>(kChainMarkerReach, size - end));
            try {
                static_cast<void>(file.ReadAt(end, after.data(), afterBytes));
            } catch (const FileError&) {
                markersLost[block.slot] = 1; // the walk reads instead; the error comes in turn
                return;
            }
        }
        ChainMarkerIndex::FindInBlock(block.base, ByteView(block.bytes, block.want),
                                      ByteView(after.data(), afterBytes), markers[block.slot]);
    };
    BlockReadAhead reader(cat.storeFile, size, kFirstPassBlockPages * kPageSize, kSlots,
                          std::move(prepare));
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
        if (markersLost[block.slot] != 0) {
            ctx.chainMarkers->giveUp();
        } else {
            ctx.chainMarkers->append(markers[block.slot]);
        }
    }
    cat.recordedPageCount = recorded;
}

namespace {
// A store that grew or shrank while it was read gave pages of two different files: the scan
// says so instead of passing a partial catalog off as the store's.
bool noteChange(const StoreCatalog& catalog, const std::string& path, ScanResult& result) {
    if (catalog.storeFile.GetLength() == catalog.storeSize) {
        return false;
    }
    result.outcome = ScanOutcome::ReadError;
    result.fileChanged = true;
    result.file = path;
    result.reason = kFileChangedReason;
    return true;
}
} // namespace

ScanResult RunScan(StoreCatalog& catalog, const std::string& path, ScanHost& host,
                   const CancelToken* cancel) {
    ScanResult result;
    ScanContext ctx{catalog, host, cancel};
    if (const char* env = std::getenv("EDB_STAGE_TIMES"); env != nullptr && env[0] == '1') {
        ctx.startStageTimes();
    }
    try {
        // A temporary folder that cannot take the scan's files stops it before it starts.
        CheckTempDirectory();
    } catch (const TempFileError& e) {
        result.outcome = ScanOutcome::Failed;
        result.file = path;
        result.reason = e.what();
        return result;
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
            if (!noteChange(catalog, path, result)) {
                result.outcome = ScanOutcome::NoMailbox;
            }
            result.unreadable = catalog.storeFile.unreadable().list();
            catalog.storeFile.Close();
            return result;
        }
        host.mailboxRowsReady(ListMailboxes(catalog));
        RunFolderDiscovery(ctx);
        ctx.stageDone("folders");
        RunLateStages(ctx, keyStage);
        static_cast<void>(noteChange(catalog, path, result));
        if (ctx.stageTimes) {
            std::fprintf(stderr, "stage-info recorded_pages=%d messages=%zu\n",
                         catalog.recordedPageCount, catalog.messages.size());
        }
    } catch (const FileError& e) {
        if (e.fileName() != catalog.storeFile.fileName()) {
            // The scan's own temporary file, not the store.
            result.outcome = ScanOutcome::Failed;
            result.file = path;
            result.reason = e.what();
        } else {
            result.outcome = ScanOutcome::ReadError;
            result.errorCode = e.code();
            result.errorOffset = e.offset();
            result.file = e.fileName();
            result.reason = e.reason();
        }
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
    result.unreadable = catalog.storeFile.unreadable().list();
    return result;
}

} // namespace edb
