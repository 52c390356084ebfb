// The long-value stage: the chunk pages of the long-value owner matched to the long-valued
// attachments' references, whose chunk offsets it then hands out.
#include "scan/long_value_stage.h"

#include "scan/chunk_pages.h"
#include "scan/spill_files.h"

#include <algorithm>
#include <memory>

namespace edb {

namespace {
constexpr std::size_t kPassBlockPages = 1250; // 5,120,000 bytes per read
constexpr std::size_t kMatchBatch = 4096;     // offsets taken from the list at a time
constexpr std::size_t kRunPages = 64;         // at most 256 KiB in one read of neighbours

std::int64_t signedSize(std::uint64_t v) {
    return static_cast<std::int64_t>(v);
}

// Chunk-page pass from the first pass's candidates: the records of the pages whose owner is the
// long-value owner, in file order. False when the candidates cannot be read back.
bool chunkPagesFromCandidates(ScanContext& ctx, ChunkPageCandidates& candidates,
                              ChunkOffsetList& list, ChunkPageCandidates& kept) {
    StoreCatalog& cat = ctx.catalog;
    if (!candidates.rewind()) {
        return false;
    }
    std::uint64_t o = 0;
    std::uint32_t owner = 0;
    ChunkPageRecords records;
    while (candidates.next(o, owner, records)) {
        ctx.checkpoint();
        if (owner == cat.longValueOwner) {
            list.append(o);
            kept.note(o, owner, records);
        }
        ctx.reportProgress(signedSize(std::min<std::uint64_t>(o + kPageSize, cat.storeSize)),
                           signedSize(cat.storeSize));
    }
    return true;
}

// Chunk-page pass over the whole store, for when the first pass could not keep candidates.
void chunkPagesByReading(ScanContext& ctx, ChunkOffsetList& list) {
    StoreCatalog& cat = ctx.catalog;
    std::vector<std::uint8_t> block(kPassBlockPages * kPageSize);
    const std::uint64_t size = cat.storeSize;
    for (std::uint64_t base = 0; base < size; base += block.size()) {
        const std::uint64_t want = std::min<std::uint64_t>(block.size(), size - base);
        const std::size_t got = cat.storeFile.ReadAt(base, block.data(), want);
        std::fill(block.begin() + static_cast<std::ptrdiff_t>(got),
                  block.begin() + static_cast<std::ptrdiff_t>(want), 0);
        for (std::uint64_t in = 0; in < want; in += kPageSize) {
            ctx.checkpoint();
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(kPageSize, want - in));
            if (IsLongValueChunkPage(ByteView(block.data() + in, n), cat.longValueOwner)) {
                list.append(base + in);
            }
        }
        ctx.reportProgress(signedSize(base + want), signedSize(size));
    }
}

// The long-valued attachments in list order, their references made keys. The same walk
// releases the attachment ids, which nothing needs after the attachment stage.
std::vector<AttachmentEntry*> makeKeys(StoreCatalog& cat) {
    std::vector<AttachmentEntry*> longValued;
    for (MessageEntry& m : cat.messages) {
        if (!m.attachmentIds.empty()) {
            cat.messages.updateFields([&] {
                m.attachmentIds.clear();
                m.attachmentIds.shrink_to_fit();
            });
        }
        for (AttachmentEntry& a : m.attachments) {
            if (a.position == 0) {
                cat.longValueKeys.AddKey(a.reference);
                longValued.push_back(&a);
            }
        }
    }
    return longValued;
}

// Matching from the noted records, the list's offsets checked against them one by one; a page
// whose record cannot be had is read. Progress counts the list's bytes.
void matchFromNotes(ScanContext& ctx, ChunkOffsetList& list, std::uint64_t listBytes,
                    ChunkPageCandidates& kept) {
    StoreCatalog& cat = ctx.catalog;
    std::vector<std::uint8_t> page(kPageSize);
    ChunkPageRecords records;
    std::uint64_t offset = 0;
    std::uint64_t notedAt = 0;
    std::uint32_t owner = 0;
    bool noted = true;
    for (std::int64_t i = 0; list.next(offset); ++i) {
        ctx.checkpoint();
        noted = noted && kept.next(notedAt, owner, records);
        if (noted && notedAt == offset) {
            MatchChunkRecords(cat.longValueKeys, records, offset);
        } else {
            noted = false;
            const std::size_t n = ReadPage(cat.storeFile, cat.storeSize, offset, page.data());
            MatchChunkPage(cat.longValueKeys, ByteView(page.data(), n), offset);
        }
        ctx.reportProgress(i * signedSize(ChunkOffsetList::kEntryBytes), signedSize(listBytes));
    }
}

// Matching, the chunk pages read in runs of neighbours with one read each. Without a key
// nothing is read, and the list is only counted through.
void matchByReading(ScanContext& ctx, ChunkOffsetList& list, std::uint64_t listBytes, bool anyKey) {
    StoreCatalog& cat = ctx.catalog;
    std::vector<std::uint64_t> batch;
    std::vector<std::uint8_t> run(kRunPages * kPageSize);
    std::uint64_t offset = 0;
    std::int64_t i = 0;
    bool more = true;
    while (more) {
        batch.clear();
        while (batch.size() < kMatchBatch && (more = list.next(offset))) {
            batch.push_back(offset);
        }
        std::size_t b = 0;
        while (b < batch.size()) {
            std::size_t e = b + 1;
            while (e < batch.size() && e - b < kRunPages && batch[e] == batch[e - 1] + kPageSize) {
                ++e;
            }
            if (anyKey && batch[b] < cat.storeSize) {
                const std::uint64_t want =
                    std::min<std::uint64_t>((e - b) * kPageSize, cat.storeSize - batch[b]);
                const std::size_t got = cat.storeFile.ReadAt(batch[b], run.data(), want);
                std::fill(run.begin() + static_cast<std::ptrdiff_t>(got),
                          run.begin() + static_cast<std::ptrdiff_t>(want), 0);
            }
            for (std::size_t k = b; k < e; ++k, ++i) {
                ctx.checkpoint();
                if (anyKey) {
                    const std::uint64_t o = batch[k];
                    const std::size_t n = o >= cat.storeSize
                                              ? 0
                                              : static_cast<std::size_t>(std::min<std::uint64_t>(
                                                    kPageSize, cat.storeSize - o));
                    MatchChunkPage(cat.longValueKeys, ByteView(run.data() + (k - b) * kPageSize, n),
                                   o);
                }
                ctx.reportProgress(i * signedSize(ChunkOffsetList::kEntryBytes),
                                   signedSize(listBytes));
            }
            b = e;
        }
    }
}
} // namespace

void RunLongValueStage(ScanContext& ctx, bool& inKeyStage) {
    StoreCatalog& cat = ctx.catalog;
    ChunkOffsetList list; // throws when the temporary folder refuses it
    // The records of the listed pages as the first pass found them, in list order; without
    // them (the first pass kept no candidates, or a temporary file failed) pages are read.
    auto kept = std::make_unique<ChunkPageCandidates>();
    if (ctx.chunkCandidates == nullptr || !ctx.chunkCandidates->ok() ||
        !chunkPagesFromCandidates(ctx, *ctx.chunkCandidates, list, *kept)) {
        chunkPagesByReading(ctx, list);
        kept.reset();
    }
    ctx.chunkCandidates.reset();
    ctx.stageDone("lv-chunk-pages");

    // Kept for handing out the offsets at the end without a second walk over every message.
    inKeyStage = true;
    const std::vector<AttachmentEntry*> longValued = makeKeys(cat);
    inKeyStage = false;

    const std::uint64_t listBytes = list.rewindForReading();
    const bool anyKey = !cat.longValueKeys.keys().empty();
    if (anyKey && kept != nullptr && kept->ok() && kept->rewind()) {
        matchFromNotes(ctx, list, listBytes, *kept);
    } else {
        matchByReading(ctx, list, listBytes, anyKey);
    }
    kept.reset();

    cat.messages.updateFields([&] {
        for (AttachmentEntry* a : longValued) {
            if (const LongValueKey* k = cat.longValueKeys.find(a->reference)) {
                for (const auto v : k->offsets.values()) {
                    a->chunks.AddOffset(v);
                }
            }
        }
    });
    cat.longValueKeys.clear();
}

} // namespace edb
