#include "scan/late_stages.h"

#include "decode/contents_tables.h"
#include "decode/long_values.h"
#include "decode/properties.h"
#include "io/read_ahead.h"
#include "io/temp_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

namespace edb {

namespace {
constexpr std::uint32_t kCatalogOwner = 2;
constexpr std::uint32_t kPropertiesOwner = 19;
constexpr std::uint32_t kChunkOwner = 106;
constexpr std::uint32_t kAttachmentOwner = 61;
constexpr std::uint32_t kDefaultLongValueOwner = 122;
constexpr std::int64_t kChunkSpan = 4014;
constexpr std::size_t kPassBlockPages = 1250; // 5,120,000 bytes per read
constexpr std::int64_t kModeTwoBack = 52;
constexpr std::size_t kMatchBatch = 4096; // temp records read ahead in matching
constexpr std::size_t kRunPages = 64;     // at most 256 KiB in one read of neighbours
constexpr std::size_t kAheadBatch = 64;   // pages per read-ahead batch
constexpr std::size_t kAheadReaders = 2;  // page reads cost a call each: two threads make them

bool chunkOffsetOk(std::optional<std::uint32_t> v) {
    return v && static_cast<std::int32_t>(*v) % kChunkSpan == 0;
}

// Each page-list entry of `owner`, read and handed to `use`; progress after every entry.
template <class Use>
void forEachPageOf(ScanContext& ctx, std::uint32_t owner, std::vector<std::uint8_t>& buf,
                   Use&& use) {
    StoreCatalog& cat = ctx.catalog;
    // Index-based: stage 2 appended to the list, and nothing appends while this walks it.
    const auto& entries = cat.pageList.entries();
    for (std::size_t k = 0; k < entries.size(); ++k) {
        ctx.checkpoint();
        if (entries[k].owner == owner) {
            const std::uint64_t o = entries[k].offset;
            const std::size_t n = ReadPage(cat.storeFile, cat.storeSize, o, buf.data());
            use(ByteView(buf.data(), n), o);
        }
        ctx.pageListProgress(static_cast<std::int64_t>(k) + 1);
    }
}

// The same walk with the pages read a batch ahead on a second thread: the same reads in the
// same order. `size(count)` is told how many pages there are before any is read;
// `prepare(i, page, offset)`, if given, runs on a reading thread for the i-th page and must
// touch nothing but what it leaves for `use(i, ...)`. A read that `use` makes itself comes
// after the reads of the pages ahead of it.
template <class Size, class Use>
void forEachPageOfReadAhead(
    ScanContext& ctx, std::uint32_t owner, Size&& size,
    std::function<void(std::size_t, const ByteView&, std::uint64_t)> prepare, Use&& use) {
    StoreCatalog& cat = ctx.catalog;
    const auto& entries = cat.pageList.entries();
    std::vector<std::uint64_t> offsets;
    for (const PageEntry& e : entries) {
        if (e.owner == owner) {
            offsets.push_back(e.offset);
        }
    }
    size(offsets.size());
    PageReadAhead::Prepare onRead;
    std::vector<std::uint64_t> at;
    if (prepare) {
        at = offsets;
        onRead = [&prepare, &at](std::size_t i, const std::uint8_t* bytes, std::size_t n) {
            prepare(i, ByteView(bytes, n), at[i]);
        };
    }
    PageReadAhead pages(cat.storeFile, cat.storeSize, std::move(offsets), kAheadBatch,
                        std::move(onRead), kAheadReaders);
    std::size_t i = 0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        ctx.checkpoint();
        if (entries[k].owner == owner) {
            const std::uint8_t* bytes = nullptr;
            std::size_t n = 0;
            if (pages.next(bytes, n)) {
                use(i, ByteView(bytes, n), entries[k].offset);
                ++i;
            }
        }
        ctx.pageListProgress(static_cast<std::int64_t>(k) + 1);
    }
}

// The on-disk list of chunk-page offsets: a unique file created exclusively in the temporary
// directory, removed on every path out of the stage.
class TempOffsetFile {
public:
    TempOffsetFile() : m_temp("edb2eml-lv-"), m_file(m_temp.file()) {}

    [[nodiscard]] bool ok() const { return m_file != nullptr; }
    void append(std::uint64_t offset) {
        std::uint8_t rec[8];
        for (int i = 0; i < 8; ++i) {
            rec[i] = static_cast<std::uint8_t>(offset >> (8 * i));
        }
        if (std::fwrite(rec, 1, 8, m_file) != 8) {
            throw FileError(errno != 0 ? errno : EIO, m_temp.path(), "write failed");
        }
    }
    // Flushes and rewinds; returns the size in bytes.
    std::uint64_t rewindForReading() {
        if (std::fflush(m_file) != 0) {
            throw FileError(errno, m_temp.path(), "write failed");
        }
        std::fseek(m_file, 0, SEEK_END);
        const long size = std::ftell(m_file);
        std::rewind(m_file);
        return size < 0 ? 0 : static_cast<std::uint64_t>(size);
    }
    bool next(std::uint64_t& offset) {
        std::uint8_t rec[8];
        if (std::fread(rec, 1, 8, m_file) != 8) {
            return false;
        }
        offset = 0;
        for (int i = 0; i < 8; ++i) {
            offset |= std::uint64_t{rec[i]} << (8 * i);
        }
        return true;
    }

private:
    PrivateTempFile m_temp;
    std::FILE* m_file;
};
} // namespace

ByteView BlockWindow::block(std::uint64_t start, std::span<const std::uint64_t> nearby,
                            std::uint64_t back) {
    const std::uint64_t n = std::min<std::uint64_t>(kPageSize, m_storeSize - start);
    if (m_size == 0 || start < m_start || start + n > m_start + m_size) {
        // One read up to the end of the last block, of those asked for next, that fits in the
        // buffer from here; the page read rule for every block inside, a file that shrank
        // leaving zeros.
        std::uint64_t end = start + n;
        for (const std::uint64_t p : nearby) {
            if (p >= back && p - back > start) {
                const std::uint64_t blockEnd = p - back + kPageSize;
                if (blockEnd > end && blockEnd - start <= m_buf.size()) {
                    end = blockEnd;
                }
            }
        }
        const std::uint64_t want = std::min<std::uint64_t>(end - start, m_storeSize - start);
        const std::size_t got = m_file.ReadAt(start, m_buf.data(), want);
        std::fill(m_buf.begin() + static_cast<std::ptrdiff_t>(got),
                  m_buf.begin() + static_cast<std::ptrdiff_t>(want), 0);
        m_start = start;
        m_size = want;
    }
    return {m_buf.data() + (start - m_start), static_cast<std::size_t>(n)};
}

bool HasChunkPageShape(const ByteView& page) {
    if (page.size() < 64) {
        return false;
    }
    return chunkOffsetOk(page.readU32Be(44)) || chunkOffsetOk(page.readU32Be(60));
}

bool IsLongValueChunkPage(const ByteView& page, std::uint32_t longValueOwner) {
    const auto owner = page.readU32Le(24);
    return owner && *owner == longValueOwner && HasChunkPageShape(page);
}

ChunkPageCandidates::ChunkPageCandidates() : m_temp("edb2eml-cp-"), m_file(m_temp.file()) {
    if (m_file == nullptr) {
        return;
    }
    // Nobody else needs the name: removed at once, the file lives as long as it is open.
    m_temp.removeName();
    static_cast<void>(std::setvbuf(m_file, nullptr, _IOFBF, 1 << 16));
}

ChunkPageCandidates::~ChunkPageCandidates() = default;

namespace {
constexpr std::size_t kNoteHead = 15;  // offset, owner, positions, candidates, blocked
constexpr std::size_t kNoteRecord = 5; // reference, position, place
} // namespace

void ChunkPageCandidates::Encode(std::uint64_t offset, std::uint32_t owner,
                                 const ChunkPageRecords& records, std::vector<std::uint8_t>& out) {
    const std::size_t at = out.size();
    out.resize(at + kNoteHead + kNoteRecord * records.candidates);
    std::uint8_t* rec = out.data() + at;
    for (int i = 0; i < 8; ++i) {
        rec[i] = static_cast<std::uint8_t>(offset >> (8 * i));
    }
    for (int i = 0; i < 4; ++i) {
        rec[8 + i] = static_cast<std::uint8_t>(owner >> (8 * i));
    }
    rec[12] = records.positions;
    rec[13] = records.candidates;
    rec[14] = records.blockedAt58 ? 1 : 0;
    std::uint8_t* r = rec + kNoteHead;
    for (std::size_t c = 0; c < records.candidates; ++c, r += kNoteRecord) {
        r[0] = static_cast<std::uint8_t>(records.reference[c]);
        r[1] = static_cast<std::uint8_t>(records.reference[c] >> 8);
        r[2] = static_cast<std::uint8_t>(records.position[c]);
        r[3] = static_cast<std::uint8_t>(records.position[c] >> 8);
        r[4] = records.place[c];
    }
}

void ChunkPageCandidates::noteEncoded(const std::vector<std::uint8_t>& notes) {
    if (ok() && !notes.empty() &&
        std::fwrite(notes.data(), 1, notes.size(), m_file) != notes.size()) {
        m_failed = true; // the long-value stage then reads the store again
    }
}

void ChunkPageCandidates::note(std::uint64_t offset, std::uint32_t owner,
                               const ChunkPageRecords& records) {
    if (!ok()) {
        return;
    }
    m_scratch.clear();
    Encode(offset, owner, records, m_scratch);
    noteEncoded(m_scratch);
}

bool ChunkPageCandidates::rewind() {
    if (!ok() || std::fflush(m_file) != 0 || std::fseek(m_file, 0, SEEK_SET) != 0) {
        m_failed = true;
        return false;
    }
    return true;
}

bool ChunkPageCandidates::next(std::uint64_t& offset, std::uint32_t& owner,
                               ChunkPageRecords& records) {
    std::uint8_t rec[kNoteHead + kNoteRecord * ChunkPageRecords::kMost];
    if (std::fread(rec, 1, kNoteHead, m_file) != kNoteHead) {
        return false;
    }
    offset = 0;
    for (int i = 0; i < 8; ++i) {
        offset |= std::uint64_t{rec[i]} << (8 * i);
    }
    owner = 0;
    for (int i = 0; i < 4; ++i) {
        owner |= std::uint32_t{rec[8 + i]} << (8 * i);
    }
    records.positions = rec[12];
    records.candidates = rec[13];
    records.blockedAt58 = rec[14] != 0;
    if (records.positions > ChunkPageRecords::kMost ||
        records.candidates > ChunkPageRecords::kMost) {
        m_failed = true;
        return false;
    }
    const std::size_t size = kNoteRecord * records.candidates;
    if (std::fread(rec, 1, size, m_file) != size) {
        m_failed = true;
        return false;
    }
    const std::uint8_t* r = rec;
    for (std::size_t c = 0; c < records.candidates; ++c, r += kNoteRecord) {
        records.reference[c] = static_cast<std::uint16_t>(r[0] | (r[1] << 8));
        records.position[c] = static_cast<std::uint16_t>(r[2] | (r[3] << 8));
        records.place[c] = r[4];
    }
    return true;
}

namespace {
constexpr std::size_t kMaxRecordPositions = ChunkPageRecords::kMost;

// Record positions of a chunk page into `pos`; returns how many.
std::size_t recordPositions(const ByteView& page, std::int64_t* pos) {
    pos[0] = 42;
    pos[1] = 58;
    std::size_t count = 2;
    const std::uint8_t* d = page.data();
    const std::size_t n = page.size();
    std::size_t j = 48;
    while (j + 2 < n && count < kMaxRecordPositions) {
        const void* hit = std::memchr(d + j, 0x03, n - 2 - j);
        if (hit == nullptr) {
            break;
        }
        j = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - d);
        if (d[j + 1] == 0x00 && d[j + 2] == 0x05) {
            pos[count++] = static_cast<std::int64_t>(j + 3);
        }
        ++j;
    }
    return count;
}
} // namespace

std::vector<std::int64_t> ChunkRecordPositions(const ByteView& page) {
    std::int64_t pos[kMaxRecordPositions];
    const std::size_t count = recordPositions(page, pos);
    return std::vector<std::int64_t>(pos, pos + count);
}

void FindChunkRecords(const ByteView& page, ChunkPageRecords& out) {
    std::int64_t pos[kMaxRecordPositions];
    const std::size_t count = recordPositions(page, pos);
    out.positions = static_cast<std::uint8_t>(count);
    out.blockedAt58 = page.byteOr0(42) != 0 || page.byteOr0(43) != 0;
    out.candidates = 0;
    // Only the first readable record of each reference can match: a later one is either taken
    // already or not a key either.
    for (std::size_t p = 0; p < count; ++p) {
        const auto ref = page.readU16Le(pos[p]);
        if (!ref || !chunkOffsetOk(page.readU32Be(pos[p] + 2))) {
            continue;
        }
        const auto seen = out.reference.begin() + out.candidates;
        if (std::find(out.reference.begin(), seen, *ref) != seen) {
            continue;
        }
        out.reference[out.candidates] = *ref;
        out.position[out.candidates] = static_cast<std::uint16_t>(pos[p]);
        out.place[out.candidates] = static_cast<std::uint8_t>(p);
        ++out.candidates;
    }
}

void MatchChunkRecords(LongValueKeyList& keys, const ChunkPageRecords& page, std::uint64_t offset) {
    // Per key, the first position that carries its reference; keys are then taken in list
    // order, which decides when a simple page is done.
    struct Hit {
        std::size_t key;
        std::size_t candidate;
    };
    Hit hits[kMaxRecordPositions];
    std::size_t hitCount = 0;
    auto& list = keys.keys();
    for (std::size_t c = 0; c < page.candidates; ++c) {
        if (LongValueKey* k = keys.find(page.reference[c])) {
            hits[hitCount++] = Hit{static_cast<std::size_t>(k - list.data()), c};
        }
    }
    std::sort(hits, hits + hitCount, [](const Hit& a, const Hit& b) { return a.key < b.key; });
    for (std::size_t i = 0; i < hitCount; ++i) {
        const Hit& h = hits[i];
        const std::uint16_t r = page.position[h.candidate];
        if (r == 58 && page.blockedAt58) {
            continue;
        }
        const bool added = list[h.key].offsets.AddOffset(offset + r);
        if (added &&
            (page.positions == 2 || (page.positions == 3 && page.place[h.candidate] == 2))) {
            return;
        }
    }
}

void MatchChunkPage(LongValueKeyList& keys, const ByteView& page, std::uint64_t offset) {
    ChunkPageRecords records;
    FindChunkRecords(page, records);
    MatchChunkRecords(keys, records, offset);
}

namespace {
// Chunk-page pass from the first pass's candidates: the records of the pages whose owner is the
// long-value owner, in file order. False when the candidates cannot be read back.
bool chunkPagesFromCandidates(ScanContext& ctx, ChunkPageCandidates& candidates,
                              TempOffsetFile& temp, ChunkPageCandidates& kept) {
    StoreCatalog& cat = ctx.catalog;
    if (!candidates.rewind()) {
        return false;
    }
    const auto size = static_cast<std::int64_t>(cat.storeSize);
    std::uint64_t o = 0;
    std::uint32_t owner = 0;
    ChunkPageRecords records;
    while (candidates.next(o, owner, records)) {
        ctx.checkpoint();
        if (owner == cat.longValueOwner) {
            temp.append(o);
            kept.note(o, owner, records);
        }
        ctx.report((std::min(static_cast<std::int64_t>(o + kPageSize), size) * 100 - 100) / size);
    }
    return true;
}

// Chunk-page pass over the whole store, for when the first pass could not keep candidates.
void chunkPagesByReading(ScanContext& ctx, TempOffsetFile& temp) {
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
                temp.append(base + in);
            }
        }
        const auto c = static_cast<std::int64_t>(base + want);
        ctx.report((c * 100 - 100) / static_cast<std::int64_t>(size));
    }
}
} // namespace

void RunLongValueStage(ScanContext& ctx, bool& inKeyStage) {
    StoreCatalog& cat = ctx.catalog;
    TempOffsetFile temp;
    if (!temp.ok()) {
        return;
    }
    // The records of the listed pages as the first pass found them, in list order; without
    // them (the first pass kept no candidates, or a temporary file failed) pages are read.
    auto kept = std::make_unique<ChunkPageCandidates>();
    if (ctx.chunkCandidates == nullptr || !ctx.chunkCandidates->ok() ||
        !chunkPagesFromCandidates(ctx, *ctx.chunkCandidates, temp, *kept)) {
        chunkPagesByReading(ctx, temp);
        kept.reset();
    }
    ctx.chunkCandidates.reset();
    ctx.stageDone("lv-chunk-pages");

    // The long-valued attachments in list order, kept for handing out the offsets at the end
    // without a second walk over every message. The same walk releases the attachment ids,
    // which nothing needs after the attachment stage.
    std::vector<AttachmentEntry*> longValued;
    inKeyStage = true;
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
    inKeyStage = false;

    const std::uint64_t tempSize = temp.rewindForReading();
    const bool anyKey = !cat.longValueKeys.keys().empty();
    const bool fromRecords = anyKey && kept != nullptr && kept->ok() && kept->rewind();
    if (fromRecords) {
        // Matching from the noted records, the list's offsets checked against them one by one;
        // a page whose record cannot be had is read.
        std::vector<std::uint8_t> page(kPageSize);
        ChunkPageRecords records;
        std::uint64_t offset = 0;
        std::uint64_t notedAt = 0;
        std::uint32_t owner = 0;
        bool noted = true;
        for (std::int64_t i = 0; temp.next(offset); ++i) {
            ctx.checkpoint();
            noted = noted && kept->next(notedAt, owner, records);
            if (noted && notedAt == offset) {
                MatchChunkRecords(cat.longValueKeys, records, offset);
            } else {
                noted = false;
                const std::size_t n = ReadPage(cat.storeFile, cat.storeSize, offset, page.data());
                MatchChunkPage(cat.longValueKeys, ByteView(page.data(), n), offset);
            }
            ctx.report((800 * i - 100) / static_cast<std::int64_t>(tempSize));
        }
        kept.reset();
    }
    // Matching, the chunk pages read in runs of neighbours with one read each.
    std::vector<std::uint64_t> batch;
    std::vector<std::uint8_t> run(kRunPages * kPageSize);
    std::uint64_t offset = 0;
    std::int64_t i = 0;
    bool more = !fromRecords;
    while (more) {
        batch.clear();
        while (batch.size() < kMatchBatch && (more = temp.next(offset))) {
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
                ctx.report((800 * i - 100) / static_cast<std::int64_t>(tempSize));
            }
            b = e;
        }
    }

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

void RunLateStages(ScanContext& ctx, bool& inKeyStage) {
    StoreCatalog& cat = ctx.catalog;
    std::vector<std::uint8_t> buf(kPageSize);

    {
        FolderTableFinder finder(cat);
        forEachPageOf(ctx, kCatalogOwner, buf,
                      [&](const ByteView& page, std::uint64_t) { finder.FindFolderTables(page); });
    }
    ctx.stageDone("folder-tables");

    {
        // Table pages are read and their entries decoded a batch ahead on the second thread;
        // this thread only adds them to the message list. Decoding reads the folder tables,
        // which stay as they are until the stage ends.
        auto tablePageOffset = [&](std::uint64_t v) -> std::uint64_t {
            if (v > cat.storeSize / 512) {
                return 0;
            }
            const std::uint64_t o = v * 512;
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
    }
    cat.folderTables.clear();
    ctx.stageDone("table-pages");

    {
        // Record starts found on the reading thread; applied to the messages here.
        std::vector<std::vector<PropertyRecordStart>> starts;
        std::vector<char> anyAnchor;
        forEachPageOfReadAhead(
            ctx, kPropertiesOwner,
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
    ctx.stageDone("properties");
    {
        // Mode 1 from the body references the first pass noted (index-based as above).
        const auto& entries = cat.pageList.entries();
        for (std::size_t k = 0; k < entries.size(); ++k) {
            ctx.checkpoint();
            if (entries[k].owner == kChunkOwner) {
                CreditModeOneChunk(cat, entries[k].note, entries[k].offset);
            }
            ctx.pageListProgress(static_cast<std::int64_t>(k) + 1);
        }
    }
    ctx.stageDone("chunks-mode-1");

    // Formatted-body chains: a chunk found here is itself followed when the walk reaches it.
    // Only a message whose formatted body carries a reference ever gets chunks, so only those
    // are walked, in list order (a copy: the walk itself may consult the indexes).
    // A message's chunks mostly lie close together: its blocks come from one read of the span
    // the nearby ones cover, instead of one read per block.
    const std::vector<MessageEntry*> withChains = cat.messages.withFormattedReference();
    BlockWindow window(cat.storeFile, cat.storeSize);
    for (MessageEntry* entry : withChains) {
        MessageEntry& m = *entry;
        for (std::size_t i = 0; i < m.formattedBody.chunks.size(); ++i) {
            ctx.checkpoint();
            const std::uint64_t p = m.formattedBody.chunks.values()[i];
            if (p < static_cast<std::uint64_t>(kModeTwoBack) || p - kModeTwoBack >= cat.storeSize) {
                continue;
            }
            const std::uint64_t start = p - kModeTwoBack;
            MatchLongValueChunks(
                cat, window.block(start, m.formattedBody.chunks.values(), kModeTwoBack), start, 2);
        }
    }
    ctx.stageDone("chunks-mode-2");

    cat.longValueOwner = 0;
    {
        // Records decoded on the reading thread; matched to the messages here, where the one
        // read of the long-value owner is made.
        std::vector<AttachmentPageRecords> records;
        forEachPageOfReadAhead(
            ctx, kAttachmentOwner, [&](std::size_t count) { records.resize(count); },
            [&](std::size_t i, const ByteView& page, std::uint64_t o) {
                DecodeAttachmentPage(page, o, records[i]);
            },
            [&](std::size_t i, const ByteView&, std::uint64_t) {
                ApplyAttachmentPage(cat, records[i]);
                records[i] = {};
            });
    }
    ctx.stageDone("attachments");

    if (cat.longValueOwner == 0) {
        cat.longValueOwner = kDefaultLongValueOwner;
    }
    cat.pageList.clear();
    RunLongValueStage(ctx, inKeyStage);
    ctx.stageDone("lv-matching");
}

} // namespace edb
