#include "store/late_stages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <unordered_map>

#include <unistd.h>

#include "message/contents_tables.h"
#include "message/long_values.h"
#include "message/properties.h"

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

// The on-disk list of chunk-page offsets: a unique file created exclusively in the temporary
// directory, removed on every path out of the stage.
class TempOffsetFile {
public:
    TempOffsetFile() {
        std::error_code ec;
        auto dir = std::filesystem::temp_directory_path(ec);
        if (ec) {
            dir = "/tmp";
        }
        std::string pattern = (dir / "edb2eml-lv-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            return;
        }
        m_file = ::fdopen(fd, "w+b");
        if (m_file == nullptr) {
            ::close(fd);
            ::unlink(pattern.c_str());
            return;
        }
        m_path = pattern;
    }
    ~TempOffsetFile() {
        if (m_file != nullptr) {
            std::fclose(m_file);
        }
        if (!m_path.empty()) {
            ::unlink(m_path.c_str());
        }
    }
    TempOffsetFile(const TempOffsetFile&) = delete;
    TempOffsetFile& operator=(const TempOffsetFile&) = delete;

    [[nodiscard]] bool ok() const { return m_file != nullptr; }
    void append(std::uint64_t offset) {
        std::uint8_t rec[8];
        for (int i = 0; i < 8; ++i) {
            rec[i] = static_cast<std::uint8_t>(offset >> (8 * i));
        }
        if (std::fwrite(rec, 1, 8, m_file) != 8) {
            throw FileError(errno != 0 ? errno : EIO, m_path, "write failed");
        }
    }
    // Flushes and rewinds; returns the size in bytes.
    std::uint64_t rewindForReading() {
        if (std::fflush(m_file) != 0) {
            throw FileError(errno, m_path, "write failed");
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
    std::FILE* m_file = nullptr;
    std::string m_path;
};
} // namespace

bool IsLongValueChunkPage(const ByteView& page, std::uint32_t longValueOwner) {
    const auto owner = page.readU32Le(24);
    if (page.size() < 64 || !owner || *owner != longValueOwner) {
        return false;
    }
    return chunkOffsetOk(page.readU32Be(44)) || chunkOffsetOk(page.readU32Be(60));
}

std::vector<std::int64_t> ChunkRecordPositions(const ByteView& page) {
    std::vector<std::int64_t> pos{42, 58};
    const auto n = static_cast<std::int64_t>(page.size());
    for (std::int64_t j = 48; j < n && pos.size() < 50; ++j) {
        if (page.matches(j, {0x03, 0x00, 0x05})) {
            pos.push_back(j + 3);
        }
    }
    return pos;
}

void MatchChunkPage(LongValueKeyList& keys, const ByteView& page, std::uint64_t offset) {
    const std::vector<std::int64_t> pos = ChunkRecordPositions(page);
    // Per key, the first position that carries its reference; keys are then taken in list
    // order, which decides when a simple page is done.
    struct Hit {
        std::size_t key;
        std::size_t place;
    };
    std::vector<Hit> hits;
    std::vector<std::uint16_t> taken;
    auto& list = keys.keys();
    std::unordered_map<std::uint16_t, std::size_t> keyPlace;
    for (std::size_t p = 0; p < pos.size(); ++p) {
        const auto ref = page.readU16Le(pos[p]);
        if (!ref || !chunkOffsetOk(page.readU32Be(pos[p] + 2)) ||
            std::find(taken.begin(), taken.end(), *ref) != taken.end()) {
            continue;
        }
        LongValueKey* k = keys.find(*ref);
        if (k == nullptr) {
            continue;
        }
        taken.push_back(*ref);
        hits.push_back(Hit{static_cast<std::size_t>(k - list.data()), p});
    }
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.key < b.key; });
    const bool blockedAt58 = page.byteOr0(42) != 0 || page.byteOr0(43) != 0;
    for (const Hit& h : hits) {
        const std::int64_t r = pos[h.place];
        if (r == 58 && blockedAt58) {
            continue;
        }
        const bool added = list[h.key].offsets.AddOffset(offset + static_cast<std::uint64_t>(r));
        if (added && (pos.size() == 2 || (pos.size() == 3 && h.place == 2))) {
            return;
        }
    }
}

void RunLongValueStage(ScanContext& ctx, bool& inKeyStage) {
    StoreCatalog& cat = ctx.catalog;
    TempOffsetFile temp;
    if (!temp.ok()) {
        return;
    }
    // Chunk-page pass: the whole store again, in large reads, judged page by page.
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

    inKeyStage = true;
    for (const MessageEntry& m : cat.messages) {
        for (const AttachmentEntry& a : m.attachments) {
            if (a.position == 0) {
                cat.longValueKeys.AddKey(a.reference);
            }
        }
    }
    inKeyStage = false;

    const std::uint64_t tempSize = temp.rewindForReading();
    std::vector<std::uint8_t> buf(kPageSize);
    std::uint64_t offset = 0;
    const bool anyKey = !cat.longValueKeys.keys().empty();
    for (std::int64_t i = 0; temp.next(offset); ++i) {
        ctx.checkpoint();
        if (anyKey) {
            const std::size_t n = ReadPage(cat.storeFile, cat.storeSize, offset, buf.data());
            MatchChunkPage(cat.longValueKeys, ByteView(buf.data(), n), offset);
        }
        ctx.report((800 * i - 100) / static_cast<std::int64_t>(tempSize));
    }

    {
        std::unique_lock lock(cat.messages.fieldsMutex);
        for (MessageEntry& m : cat.messages) {
            for (AttachmentEntry& a : m.attachments) {
                if (a.position != 0) {
                    continue;
                }
                if (const LongValueKey* k = cat.longValueKeys.find(a.reference)) {
                    for (const auto v : k->offsets.values()) {
                        a.chunks.AddOffset(v);
                    }
                }
            }
        }
    }
    cat.longValueKeys.clear();
}

void RunLateStages(ScanContext& ctx, bool& inKeyStage) {
    StoreCatalog& cat = ctx.catalog;
    std::vector<std::uint8_t> buf(kPageSize);

    forEachPageOf(ctx, kCatalogOwner, buf,
                  [&](const ByteView& page, std::uint64_t) { FindFolderTables(cat, page); });

    for (const FolderTable& t : cat.folderTables.entries()) {
        for (const std::uint64_t v : t.pages.values()) {
            ctx.checkpoint();
            if (v > cat.storeSize / 512) {
                continue;
            }
            const std::uint64_t o = v * 512;
            if (o == 0 || o >= cat.storeSize) {
                continue;
            }
            const std::size_t n = ReadPage(cat.storeFile, cat.storeSize, o, buf.data());
            ReadMessageEntries(cat, ByteView(buf.data(), n));
            cat.pageList.AddPage(0, o);
        }
    }
    cat.folderTables.clear();

    forEachPageOf(ctx, kPropertiesOwner, buf, [&](const ByteView& page, std::uint64_t o) {
        ReadMessageProperties(cat, page, o);
    });
    forEachPageOf(ctx, kChunkOwner, buf, [&](const ByteView& page, std::uint64_t o) {
        MatchLongValueChunks(cat, page, o, 1);
    });

    // Formatted-body chains: a chunk found here is itself followed when the walk reaches it.
    for (MessageEntry& m : cat.messages) {
        for (std::size_t i = 0; i < m.formattedBody.chunks.size(); ++i) {
            ctx.checkpoint();
            const std::uint64_t p = m.formattedBody.chunks.values()[i];
            if (p < static_cast<std::uint64_t>(kModeTwoBack) ||
                p - kModeTwoBack >= cat.storeSize) {
                continue;
            }
            const std::uint64_t start = p - kModeTwoBack;
            const std::size_t n = ReadPage(cat.storeFile, cat.storeSize, start, buf.data());
            MatchLongValueChunks(cat, ByteView(buf.data(), n), start, 2);
        }
    }

    cat.longValueOwner = 0;
    forEachPageOf(ctx, kAttachmentOwner, buf, [&](const ByteView& page, std::uint64_t o) {
        ReadAttachments(cat, page, o);
    });

    {
        std::unique_lock lock(cat.messages.fieldsMutex);
        for (MessageEntry& m : cat.messages) {
            m.attachmentIds.clear();
            m.attachmentIds.shrink_to_fit();
        }
    }
    if (cat.longValueOwner == 0) {
        cat.longValueOwner = kDefaultLongValueOwner;
    }
    cat.pageList.clear();
    RunLongValueStage(ctx, inKeyStage);
}

} // namespace edb
