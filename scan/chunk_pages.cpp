// Long-value chunk pages: their shape, their chunk records, and matching those to the keys.
#include "scan/chunk_pages.h"

#include "io/format.h"

#include <algorithm>

namespace edb {

namespace {
constexpr std::size_t kMaxRecordPositions = ChunkPageRecords::kMost;

bool chunkOffsetOk(std::optional<std::uint32_t> v) {
    return v && static_cast<std::int32_t>(*v) % static_cast<std::int64_t>(kChunkDataMax) == 0;
}

// Record positions of a chunk page into `pos`; returns how many.
std::size_t recordPositions(const ByteView& page, std::int64_t* pos) {
    pos[0] = kChunkPageFirstRecordAt;
    pos[1] = kChunkPageSecondRecordAt;
    std::size_t count = 2;
    std::int64_t from = kChunkPageMarkersFrom;
    while (count < kMaxRecordPositions) {
        const auto at = page.find(kChunkMarker, from, static_cast<std::int64_t>(page.size()));
        if (!at) {
            break;
        }
        pos[count++] = *at + static_cast<std::int64_t>(sizeof kChunkMarker);
        from = *at + 1;
    }
    return count;
}
} // namespace

bool HasChunkPageShape(const ByteView& page) {
    if (page.size() < kChunkPageMinSize) {
        return false;
    }
    return chunkOffsetOk(page.readU32Be(kChunkPageFirstRecordAt + kChunkRecordOffsetAt)) ||
           chunkOffsetOk(page.readU32Be(kChunkPageSecondRecordAt + kChunkRecordOffsetAt));
}

bool IsLongValueChunkPage(const ByteView& page, std::uint32_t longValueOwner) {
    const auto owner = page.readU32Le(kPageOwnerAt);
    return owner && *owner == longValueOwner && HasChunkPageShape(page);
}

std::vector<std::int64_t> ChunkRecordPositions(const ByteView& page) {
    std::int64_t pos[kMaxRecordPositions];
    const std::size_t count = recordPositions(page, pos);
    return std::vector<std::int64_t>(pos, pos + count);
}

void FindChunkRecords(const ByteView& page, ChunkPageRecords& out) {
    std::int64_t pos[kMaxRecordPositions];
    const std::size_t count = recordPositions(page, pos);
    out.positions = static_cast<std::uint8_t>(count);
    out.blockedAt58 = page.byteOr0(kChunkPageFirstRecordAt) != 0 ||
                      page.byteOr0(kChunkPageFirstRecordAt + 1) != 0;
    out.candidates = 0;
    // Only the first readable record of each reference can match: a later one is either taken
    // already or not a key either.
    for (std::size_t p = 0; p < count; ++p) {
        const auto ref = page.readU16Le(pos[p]);
        if (!ref || !chunkOffsetOk(page.readU32Be(pos[p] + kChunkRecordOffsetAt))) {
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
        if (r == kChunkPageSecondRecordAt && page.blockedAt58) {
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

} // namespace edb
