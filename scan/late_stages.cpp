// The stages after folder discovery, in their fixed order: each walks the pages of its owner
// and hands them to the message decoder; the long-value stage comes last.
#include "scan/late_stages.h"

#include "decode/contents_tables.h"
#include "decode/long_values.h"
#include "decode/properties.h"
#include "io/format.h"
#include "io/prefetch.h"
#include "scan/chain_markers.h"
#include "scan/long_value_stage.h"
#include "scan/page_walk.h"

#include <algorithm>
#include <vector>

namespace edb {

namespace {
// Catalog pages: the folder tables and the pages their rows name.
void findFolderTables(ScanContext& ctx) {
    StoreCatalog& cat = ctx.catalog;
    FolderTableFinder finder(cat);
    ForEachPageOf(ctx, kOwnerCatalog,
                  [&](const ByteView& page, std::uint64_t) { finder.FindFolderTables(page); });
}

// The folder tables' pages: their message entries added to the message list.
void readTablePages(ScanContext& ctx) {
    StoreCatalog& cat = ctx.catalog;
    {
        // Table pages are read and their entries decoded a batch ahead on the second thread;
        // this thread only adds them to the message list. Decoding reads the folder tables,
        // which stay as they are until the stage ends.
        auto tablePageOffset = [&](std::uint64_t v) -> std::uint64_t {
            if (v > cat.storeSize / kTablePageUnit) {
                return 0;
            }
            const std::uint64_t o = v * kTablePageUnit;
            return o >= cat.storeSize ? 0 : o;
        };
        std::vector<std::uint64_t> offsets;
        for (const FolderTable& t : cat.folderTables.entries()) {
            for (const std::uint64_t v : t.pages.values()) {
                if (const std::uint64_t o = tablePageOffset(v); o != 0) {
                    offsets.push_back(o);
                }
            }
        }
        struct Decoded {
            const FolderTable* table = nullptr;
            std::vector<DecodedMessageEntry> entries;
        };
        std::vector<Decoded> decoded(offsets.size());
        const StoreCatalog& constCat = cat;
        PageReadAhead pages(
            cat.storeFile, cat.storeSize, std::move(offsets), kAheadBatch,
            [&decoded, &constCat](std::size_t i, const std::uint8_t* bytes, std::size_t n) {
                decoded[i].table =
                    DecodeMessageEntries(constCat, ByteView(bytes, n), decoded[i].entries);
            },
            kAheadReaders);
        std::size_t i = 0;
        for (const FolderTable& t : cat.folderTables.entries()) {
            for (const std::uint64_t v : t.pages.values()) {
                ctx.checkpoint();
                const std::uint64_t o = tablePageOffset(v);
                const std::uint8_t* bytes = nullptr;
                std::size_t n = 0;
                if (o == 0 || !pages.next(bytes, n)) {
                    continue;
                }
                Decoded& d = decoded[i++];
                if (d.table != nullptr) {
                    AddDecodedMessageEntries(cat, *d.table, d.entries);
                }
                d.entries = {};
                cat.pageList.AddPage(0, o);
            }
        }
    } // the reading threads end here, before the folder tables go
    cat.folderTables.clear();
}

// Properties pages: their records applied to the messages.
void readPropertyRecords(ScanContext& ctx) {
    StoreCatalog& cat = ctx.catalog;
    // Record starts found on the reading thread; applied to the messages here.
    std::vector<std::vector<PropertyRecordStart>> starts;
    std::vector<char> anyAnchor;
    ForEachPageOfReadAhead(
        ctx, kOwnerProperties,
        [&](std::size_t count) {
            starts.resize(count);
            anyAnchor.resize(count);
        },
        [&](std::size_t i, const ByteView& page, std::uint64_t) {
            anyAnchor[i] = FindPropertyRecords(page, starts[i]) ? 1 : 0;
        },
        [&](std::size_t i, const ByteView& page, std::uint64_t o) {
            if (anyAnchor[i] != 0) {
                ApplyPropertyRecords(cat, page, o, starts[i]);
            }
            starts[i] = {};
        });
}

// Body chunks, first mode: the chunk pages the first pass noted.
void creditModeOneChunks(ScanContext& ctx) {
    StoreCatalog& cat = ctx.catalog;
    // Mode 1 from the body references the first pass noted (index-based as above). The messages
    // of the next few chunk pages are asked for ahead, so that their waits overlap.
    constexpr std::size_t kLookAhead = 32;
    const auto& entries = cat.pageList.entries();
    std::size_t lookedAhead = 0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        ctx.checkpoint();
        for (; lookedAhead < std::min(entries.size(), k + kLookAhead); ++lookedAhead) {
            const PageEntry& e = entries[lookedAhead];
            if (e.owner == kOwnerBodyChunks && e.note <= 0xFFFF) {
                const auto* messages =
                    cat.messages.byBodyReference(static_cast<std::uint16_t>(e.note));
                if (messages != nullptr && !messages->empty()) {
                    PrefetchForWrite(messages->front());
                }
            }
        }
        if (entries[k].owner == kOwnerBodyChunks) {
            CreditModeOneChunk(cat, entries[k].note, entries[k].offset);
        }
        ctx.pageListProgress(static_cast<std::int64_t>(k) + 1);
    }
}

// Body chunks, second mode: the formatted-body chains.
void followFormattedChains(ScanContext& ctx) {
    StoreCatalog& cat = ctx.catalog;
    // Formatted-body chains: a chunk found here is itself followed when the walk reaches it.
    // Only a message whose formatted body carries a reference ever gets chunks, so only those
    // are walked, in list order (a copy: the walk itself may consult the indexes).
    // A message's chunks mostly lie close together: its blocks come from one read of the span
    // the nearby ones cover, instead of one read per block.
    // A block's markers come from the first pass's notes when it kept them all; otherwise
    // from reading the block.
    const std::vector<MessageEntry*> withChains = cat.messages.withFormattedReference();
    const ChainMarkerIndex* noted =
        ctx.chainMarkers && ctx.chainMarkers->usable() ? ctx.chainMarkers.get() : nullptr;
    BlockWindow window(cat.storeFile, cat.storeSize);
    ChainMarkers markers;
    for (MessageEntry* entry : withChains) {
        MessageEntry& m = *entry;
        for (std::size_t i = 0; i < m.formattedBody.chunks.size(); ++i) {
            ctx.checkpoint();
            const std::uint64_t p = m.formattedBody.chunks.values()[i];
            if (p < static_cast<std::uint64_t>(kChainBlockBack) ||
                p - kChainBlockBack >= cat.storeSize) {
                continue;
            }
            const std::uint64_t start = p - kChainBlockBack;
            if (noted != nullptr) {
                // The page read rule's length: 4096 bytes or what is left of the file.
                noted->blockMarkers(start,
                                    static_cast<std::size_t>(
                                        std::min<std::uint64_t>(kPageSize, cat.storeSize - start)),
                                    markers);
            } else {
                FindChainMarkers(
                    window.block(start, m.formattedBody.chunks.values(), kChainBlockBack), markers);
            }
            CreditChainMarkers(cat, markers, start);
        }
    }
    ctx.chainMarkers.reset();
}

// Attachment pages: their records matched to the messages; learns the long-value owner.
void readAttachments(ScanContext& ctx) {
    StoreCatalog& cat = ctx.catalog;
    cat.longValueOwner = 0;
    // Records decoded on the reading thread; matched to the messages here, where the one
    // read of the long-value owner is made.
    std::vector<AttachmentPageRecords> records;
    ForEachPageOfReadAhead(
        ctx, kOwnerAttachments, [&](std::size_t count) { records.resize(count); },
        [&](std::size_t i, const ByteView& page, std::uint64_t o) {
            DecodeAttachmentPage(page, o, records[i]);
        },
        [&](std::size_t i, const ByteView&, std::uint64_t) {
            ApplyAttachmentPage(cat, records[i]);
            records[i] = {};
        });
    if (cat.longValueOwner == 0) {
        cat.longValueOwner = kOwnerLongValuesDefault;
    }
}
} // namespace

void RunLateStages(ScanContext& ctx, bool& inKeyStage) {
    findFolderTables(ctx);
    ctx.stageDone("folder-tables");
    readTablePages(ctx);
    ctx.stageDone("table-pages");
    readPropertyRecords(ctx);
    ctx.stageDone("properties");
    creditModeOneChunks(ctx);
    ctx.stageDone("chunks-mode-1");
    followFormattedChains(ctx);
    ctx.stageDone("chunks-mode-2");
    readAttachments(ctx);
    ctx.stageDone("attachments");
    ctx.catalog.pageList.clear();
    RunLongValueStage(ctx, inKeyStage);
    ctx.stageDone("lv-matching");
}

} // namespace edb
